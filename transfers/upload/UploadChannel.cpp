#include "upload/UploadChannel.h"

#include "core/base/DtError.h"
#include "core/http/CurlConnection.h"
#include "core/http/FullHttpBodyRetriever.h"
#include "core/log/FvTransfersLogger.h"
#include "framework/TransferFile.h"

#include <Poco/DigestEngine.h>
#include <Poco/Exception.h>

#include <algorithm>

namespace fv_transfers {

namespace {

std::string fileUidOf(ITransferFile* file)
{
    std::string uid;
    if (file)
        file->getFileUid(uid);
    return uid;
}

std::shared_ptr<CChannelsDbInfo> requireTable(std::shared_ptr<CChannelsDbInfo> table)
{
    if (!table)
        throw Poco::NullPointerException("CUploadChannel: no upload channels table");
    return table;
}

// Restores the receive time-out when the interim wait ends, however it ends.
class ReceiveTimeoutOverride {
public:
    ReceiveTimeoutOverride(CCurlConnection& connection, int timeoutMs)
        : m_connection(connection), m_saved(connection.receiveTimeoutMs)
    {
        connection.receiveTimeoutMs = std::min(m_saved, timeoutMs);
    }
    ~ReceiveTimeoutOverride() { m_connection.receiveTimeoutMs = m_saved; }
    ReceiveTimeoutOverride(const ReceiveTimeoutOverride&) = delete;
    ReceiveTimeoutOverride& operator=(const ReceiveTimeoutOverride&) = delete;

private:
    CCurlConnection& m_connection;
    const int m_saved;
};

} // namespace

CUploadChannel::CUploadChannel(const std::string& url, const ChannelDescription& range, const RestHeaderList& headers,
                               ITransferFile* file, IUploadDetailsSource* detailsSource, int channelNumber,
                               std::shared_ptr<ITransferBufferManager> bufferManager,
                               std::shared_ptr<CChannelsDbInfo> channelsTable, bool storeRow, ChannelSeams seams)
    : CTransferChannelBase(url, ChannelDescription{range.localPath, range.offset, range.size, "ul", "upload"}, file,
                           channelNumber, std::move(bufferManager), std::move(seams)),
      m_localPath(range.localPath), m_fileUid(fileUidOf(file)), m_detailsSource(detailsSource),
      m_channelsTable(requireTable(std::move(channelsTable))), m_headers(headers)
{
    if (!storeRow)
        return;
    CChannelsDbInfo::ChannelInfo row;
    row.FileUid = m_fileUid;
    row.Url = url;
    row.LocalOffset = range.offset;
    row.BytesToUpload = range.size;
    row.State = stateRunning;
    row.headers = headers;
    m_channelsTable->insert(row);
}

CUploadChannel::~CUploadChannel()
{
    try {
        shutdown();
    } catch (...) {
        FV_LOG_ERROR("Exception caught in destructor of CUploadChannel");
    }
}

void CUploadChannel::setSpeedLimit(unsigned bytesPerSecond)
{
    FV_LOG_INFO(logPrefix().toString() << "Setting max upload speed to " << bytesPerSecond << " to a channel. "
                                       << describe());
    CTransferChannelBase::setSpeedLimit(bytesPerSecond);
}

int CUploadChannel::start()
{
    if (m_localPath.empty()) {
        FV_LOG_ERROR(logPrefix().toString() << "Upload channel: unable to start since file path is empty!");
        return 1;
    }
    FV_LOG_INFO(logPrefix().toString() << "Starting upload of a channel. " << describe());
    return CTransferChannelBase::start();
}

void CUploadChannel::clearUploadDetails()
{
    setUrl("");
    std::lock_guard<std::mutex> guard(m_detailsLock);
    m_headers.clear();
}

int CUploadChannel::prepare()
{
    if (!m_detailsSource)
        return dt_success;
    std::string url = currentUrl();
    RestHeaderList headers;
    {
        std::lock_guard<std::mutex> guard(m_detailsLock);
        headers = m_headers;
    }
    // Not under the lock: the owner may ask the service, and may clear the details meanwhile.
    std::vector<unsigned char> md5Bytes;
    const int result = m_detailsSource->getUploadDetails(url, headers, md5Bytes);
    if (result != dt_success)
        return result;
    setUrl(url);
    std::lock_guard<std::mutex> guard(m_detailsLock);
    m_headers = std::move(headers);
    if (!md5Bytes.empty())
        m_expectedMd5 = Poco::DigestEngine::digestToHex(md5Bytes);
    return dt_success;
}

void CUploadChannel::prepareRequest(Poco::Net::HTTPRequest& request, std::uint64_t)
{
    // The head order is what the storage has always received: method, the prescribed headers,
    // the length, the expectation.
    request.setMethod(Poco::Net::HTTPRequest::HTTP_PUT);
    {
        std::lock_guard<std::mutex> guard(m_detailsLock);
        for (const auto& header : m_headers)
            request.set(header.first, header.second);
    }
    request.setContentLength64(static_cast<Poco::Int64>(rangeSize()));
    if (m_askContinue)
        request.set("Expect", "100-continue");
}

int CUploadChannel::afterRequestSent()
{
    m_finalReceived = false;
    m_fetcher = std::make_unique<CHttpResponseFetcher>(&connection);
    {
        std::lock_guard<std::mutex> guard(m_detailsLock);
        md5Enabled = m_expectedMd5.empty();
    }
    if (!m_askContinue)
        return dt_success;

    dt_error received = dt_success;
    {
        ReceiveTimeoutOverride shortWait(connection, static_cast<int>(kContinueWait.count()));
        received = connection.receiveResponse(m_fetcher->response, m_fetcher->extraBytes);
    }
    // A head cut short by the wait is lost with it; the final read then fails and the attempt
    // is retried, never accepted.
    if (received == dt_timeout) {
        FV_LOG_INFO(logPrefix().toString()
                    << "No interim response within " << kContinueWait.count() << " ms, sending the request body");
        return dt_success;
    }
    if (received != dt_success) {
        if (received != dt_interrupted)
            FV_LOG_ERROR(logPrefix().toString() << "Failed to receive response!");
        return received;
    }
    const int status = static_cast<int>(m_fetcher->response.getStatus());
    if (status == Poco::Net::HTTPResponse::HTTP_CONTINUE ||
        (status == Poco::Net::HTTPResponse::HTTP_OK && rangeSize() == 0)) {
        FV_LOG_INFO(logPrefix().toString() << "Received expected HTTP response!");
        m_finalReceived = status != Poco::Net::HTTPResponse::HTTP_CONTINUE;
        return dt_success;
    }
    noteRefusal(status);
    if (status == Poco::Net::HTTPResponse::HTTP_EXPECTATION_FAILED) {
        FV_LOG_WARNING(logPrefix().toString() << "The server refused \"Expect: 100-continue\"; the next attempt "
                                                 "sends the body without it");
        m_askContinue = false;
    }
    FV_LOG_ERROR(logPrefix().toString() << "Received unexpected HTTP response, request body will not be sent");
    return dt_unexpected_http_response;
}

int CUploadChannel::receiveFinalResponse(Poco::Net::HTTPResponse*& response)
{
    if (m_finalReceived) {
        response = &m_fetcher->response;
        return dt_success;
    }
    // Seeded with what came after the interim head, and skipping a late "100 Continue".
    IHttpResponseBodyFetcher* body = nullptr;
    const dt_error fetched = m_fetcher->fetch(response, body);
    if (fetched != dt_success)
        return fetched;
    if (response->getStatus() < Poco::Net::HTTPResponse::HTTP_OK)
        return connection.fail(dt_unexpected_http_response, "no final response after the interim ones");
    // An answer cut short may be anything but the storage's word that it has the range: it is
    // read to its end before the range counts as sent.
    if (body) {
        std::string text;
        const dt_error read = CFullHttpBodyRetriever(body, kMaxAnswerBody).retrieve(text);
        if (read != dt_success)
            return connection.fail(read, "the storage's answer ended before its body did");
    }
    return dt_success;
}

int CUploadChannel::finishTransfer()
{
    FV_LOG_INFO(logPrefix().toString() << "Transfer completed! Receiving response!");
    if (!m_fetcher)
        return dt_general_error;
    Poco::Net::HTTPResponse* response = nullptr;
    const int received = receiveFinalResponse(response);
    if (received != dt_success)
        return received;
    const int status = static_cast<int>(response->getStatus());
    if (status >= Poco::Net::HTTPResponse::HTTP_BAD_REQUEST) {
        FV_LOG_ERROR(logPrefix().toString() << "Error happened during file upload! Http status: " << status);
        noteRefusal(status);
        return dt_general_error;
    }
    std::string calculated;
    std::string checked;
    if (md5Enabled) {
        calculated = takeRangeMd5Hex();
        checked = calculated;
    } else {
        std::lock_guard<std::mutex> guard(m_detailsLock);
        checked = m_expectedMd5;
    }
    if (!etagMatches(*response, checked)) {
        FV_LOG_ERROR(logPrefix().toString()
                     << "Upload failed due to md5 checksum mismatch. Calculated md5: " << calculated);
        return dt_general_error;
    }
    FV_LOG_INFO(logPrefix().toString() << "Successfully uploaded path: " << currentUrl()
                                       << ". Http status: " << status);
    return dt_success;
}

void CUploadChannel::noteRefusal(int status)
{
    if (status == Poco::Net::HTTPResponse::HTTP_FORBIDDEN && m_detailsSource)
        m_detailsSource->onUrlRefused(currentUrl());
}

bool CUploadChannel::etagMatches(const Poco::Net::HTTPResponse& response, const std::string& md5)
{
    // Exact: the storage's contract is the quoted lower-case hex digest, nothing else.
    if (md5.empty() || !response.has("ETag"))
        return false;
    const std::string& etag = response.get("ETag");
    return !etag.empty() && etag == "\"" + md5 + "\"";
}

int CUploadChannel::readData(ILocalFile& file, void* buffer, std::uint64_t size, std::uint64_t& got)
{
    got = 0;
    // What is read here is sent in one go: whole TLS records, while the room allows one.
    constexpr std::uint64_t record = CCurlConnection::kTlsRecordPayload;
    if (size > record)
        size -= size % record;
    char* out = static_cast<char*>(buffer);
    while (got < size) {
        std::size_t count = 0;
        if (!file.readAt(out + got, static_cast<std::size_t>(size - got), filePosition() + got, count) || count == 0)
            break;
        got += count;
    }
    if (got > 0)
        return dt_success;
    // The range is within the file: a file that ends or fails before it is no longer the one
    // being uploaded.
    FV_LOG_ERROR(logPrefix().toString() << "Unable to read the local file at " << filePosition() << " (errno "
                                        << file.lastError() << ")");
    return dt_local_file_error;
}

int CUploadChannel::writeData(ILocalFile&, const void* buffer, std::uint64_t size, std::uint64_t& done)
{
    std::size_t sent = 0;
    const dt_error result = connection.send(static_cast<const char*>(buffer), static_cast<std::size_t>(size), sent);
    done = result == dt_success ? sent : 0;
    return result;
}

void CUploadChannel::onStateChanged(int state)
{
    m_channelsTable->updateState(m_fileUid, getOffset(), static_cast<std::uint32_t>(state));
}

} // namespace fv_transfers
