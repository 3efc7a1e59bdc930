#include "download/DownloadChannel.h"

#include "core/base/DtError.h"
#include "core/log/FvTransfersLogger.h"
#include "framework/TransferFile.h"

#include <Poco/NumberParser.h>
#include <Poco/String.h>
#include <Poco/URI.h>

namespace fv_transfers {

namespace {

// "bytes a-b/total" (total may be "*") naming exactly [first, last].
bool contentRangeIs(const std::string& header, std::uint64_t first, std::uint64_t last)
{
    const std::string prefix = "bytes ";
    if (header.compare(0, prefix.size(), prefix) != 0)
        return false;
    const std::size_t dash = header.find('-', prefix.size());
    const std::size_t slash = header.find('/', prefix.size());
    if (dash == std::string::npos || slash == std::string::npos || slash < dash)
        return false;
    Poco::UInt64 a = 0;
    Poco::UInt64 b = 0;
    return Poco::NumberParser::tryParseUnsigned64(header.substr(prefix.size(), dash - prefix.size()), a) &&
           Poco::NumberParser::tryParseUnsigned64(header.substr(dash + 1, slash - dash - 1), b) && a == first &&
           b == last;
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace

CDownloadChannel::CDownloadChannel(const DownloadChannelParams& params, ITransferFile* file,
                                   IDownloadUrlSource* urlSource, int channelNumber,
                                   std::shared_ptr<ITransferBufferManager> bufferManager,
                                   std::shared_ptr<CDownloadChannelsDbInfo> rows, ChannelSeams seams,
                                   DownloadCheckpointPolicy checkpoints)
    : CTransferChannelBase("", ChannelDescription{params.tempPath, params.offset, params.size, "dl", "download"}, file,
                           channelNumber, std::move(bufferManager), seams),
      m_tempPath(params.tempPath), m_rows(std::move(rows)), m_fileFactory(seams.fileFactory), m_clock(seams.clock),
      m_checkpoints(checkpoints), m_urlSource(urlSource), m_expectedMd5(params.expectedMd5)
{
    if (file)
        file->getFileUid(m_fileId);
    setBytesDone(params.checkpoint);
    m_storedCheckpoint = bytesDone();
    m_checkpointAt = m_clock();
    if (params.storeRow && m_rows) {
        CDownloadChannelsDbInfo::ChannelInfo row{m_fileId,     params.offset,      params.size,
                                                 stateRunning, params.expectedMd5, bytesDone()};
        if (!m_rows->insert(row))
            FV_LOG_ERROR(logPrefix().toString() << "Unable to store download channel. Offset: " << params.offset);
    }
}

CDownloadChannel::~CDownloadChannel()
{
    shutdown();
}

int CDownloadChannel::start()
{
    if (m_tempPath.empty()) {
        FV_LOG_ERROR(logPrefix().toString() << "Unable to start download channel, path is empty!");
        return dt_invalid_argument;
    }
    FV_LOG_INFO(logPrefix().toString() << "Starting download of a channel. File id: " << m_fileId
                                       << ". Offset: " << getOffset());
    return CTransferChannelBase::start();
}

void CDownloadChannel::setOwnerFile(ITransferFile* file)
{
    if (!file) {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_urlSource = nullptr;
    }
    CTransferChannelBase::setOwnerFile(file);
}

void CDownloadChannel::setExpectedMd5(const std::string& md5)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_expectedMd5 = md5;
}

IDownloadUrlSource* CDownloadChannel::urlSource()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_urlSource;
}

std::string CDownloadChannel::expectedMd5()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_expectedMd5;
}

int CDownloadChannel::prepare()
{
    m_attemptFile = nullptr;
    // Hashing costs as much as the transfer itself: only a range with an expected MD5 pays it.
    md5Enabled = !expectedMd5().empty();
    if (bytesDone() >= rangeSize() || !currentUrl().empty())
        return dt_success;
    IDownloadUrlSource* source = urlSource();
    if (!source)
        return dt_invalid_argument;
    std::string url;
    const int result = source->getDownloadUrl(url, false);
    if (result == dt_success && !url.empty()) {
        m_sourceUrl = url;
        setUrl(url);
        return dt_success;
    }
    FV_LOG_WARNING(logPrefix().toString() << "Download channel: Unable to obtain new file url");
    if (result == dt_unexpected_http_response || (result != dt_success && !currentUrl().empty()))
        return result;
    return resultNoUrl;
}

void CDownloadChannel::prepareRequest(Poco::Net::HTTPRequest& request, std::uint64_t transferred)
{
    m_requestFirst = getOffset() + transferred;
    // A range that starts over must not leave a checkpoint that counts bytes it will rewrite.
    m_checkpointLowered = transferred >= m_storedCheckpoint || storeCheckpointValue(transferred);
    const std::string range =
        "bytes=" + std::to_string(m_requestFirst) + "-" + std::to_string(getOffset() + rangeSize() - 1);
    request.set("Range", range);
    request.set("Accept", "*/*");
    FV_LOG_INFO(logPrefix().toString() << "Download, setting content range to: " << range);
}

int CDownloadChannel::afterRequestSent()
{
    m_body = nullptr;
    m_fetcher = std::make_unique<CHttpResponseFetcher>(&connection);
    if (!m_checkpointLowered)
        return dt_general_error;
    Poco::Net::HTTPResponse* response = nullptr;
    IHttpResponseBodyFetcher* body = nullptr;
    const dt_error fetched = m_fetcher->fetch(response, body);
    if (fetched != dt_success) {
        if (fetched != dt_interrupted)
            FV_LOG_ERROR(logPrefix().toString() << "Failed to receive response!");
        return fetched;
    }
    FV_LOG_INFO(logPrefix().toString() << "Successfully received response!");
    const int result = judgeResponse(*response);
    if (result == dt_success)
        m_body = body; // made with the bytes that came with the head: it serves them once
    return result;
}

int CDownloadChannel::judgeResponse(const Poco::Net::HTTPResponse& response)
{
    const int status = static_cast<int>(response.getStatus());
    if (isRedirect(status))
        return followRedirect(response);
    if (status == Poco::Net::HTTPResponse::HTTP_FORBIDDEN) {
        FV_LOG_WARNING(logPrefix().toString() << "Got http status code: " << status);
        return resultForbidden;
    }
    if (status == Poco::Net::HTTPResponse::HTTP_PARTIAL_CONTENT)
        return acceptPartialContent(response);
    if (status == Poco::Net::HTTPResponse::HTTP_OK)
        return acceptWholeContent(response);
    FV_LOG_ERROR(logPrefix().toString() << "Unsuccessful http status code: " << status);
    return dt_general_error;
}

int CDownloadChannel::followRedirect(const Poco::Net::HTTPResponse& response)
{
    const std::string location = response.get("Location", "");
    if (location.empty()) {
        FV_LOG_ERROR(logPrefix().toString() << "Redirect without a location. Status: " << response.getStatus());
        return dt_general_error;
    }
    try {
        Poco::URI target(currentUrl());
        target.resolve(location);
        setUrl(target.toString());
        FV_LOG_INFO(logPrefix().toString() << "Redirected to URL: " << target.toString());
        return resultRedirected;
    } catch (const Poco::Exception& e) {
        FV_LOG_ERROR(logPrefix().toString()
                     << "Exception caught when trying to extract location header from http response. Exception "
                        "message: "
                     << e.displayText());
        return dt_general_error;
    }
}

int CDownloadChannel::acceptPartialContent(const Poco::Net::HTTPResponse& response)
{
    const std::uint64_t last = getOffset() + rangeSize() - 1;
    const std::string contentRange = response.get("Content-Range", "");
    if (contentRangeIs(contentRange, m_requestFirst, last))
        return dt_success;
    FV_LOG_ERROR(logPrefix().toString() << "Content-Range " << contentRange << " is not the requested bytes "
                                        << m_requestFirst << "-" << last);
    return dt_general_error;
}

int CDownloadChannel::acceptWholeContent(const Poco::Net::HTTPResponse& response)
{
    // The whole object starts at byte 0: it is this range only when the range is the object.
    const bool hasLength = response.getContentLength64() != Poco::Net::HTTPMessage::UNKNOWN_CONTENT_LENGTH;
    if (m_requestFirst == 0 && hasLength && static_cast<std::uint64_t>(response.getContentLength64()) == rangeSize())
        return dt_success;
    FV_LOG_ERROR(logPrefix().toString() << "A whole object answered the range request from byte " << m_requestFirst);
    return dt_general_error;
}

int CDownloadChannel::mapConnectError(int error)
{
    if (error == resultRedirected)
        return connectRedirected;
    if (error == resultForbidden)
        return refreshUrl();
    return connectFailed;
}

int CDownloadChannel::refreshUrl()
{
    if (!mayRefreshUrl())
        return connectFailed;
    FV_LOG_WARNING(logPrefix().toString() << "Refetching download URL");
    IDownloadUrlSource* source = urlSource();
    // The file's URL, not a redirect's target: the file tells a refused URL it has already
    // replaced from its current one.
    std::string url = m_sourceUrl;
    if (!source || source->getDownloadUrl(url, true) != dt_success || url.empty())
        return connectFailed;
    m_sourceUrl = url;
    setUrl(url);
    return connectRefreshed;
}

int CDownloadChannel::readData(ILocalFile& file, void* buffer, std::uint64_t size, std::uint64_t& got)
{
    m_attemptFile = &file;
    got = 0;
    if (!m_body)
        return dt_not_connected;
    std::size_t received = 0;
    const dt_error result = m_body->read(static_cast<char*>(buffer), static_cast<std::size_t>(size), received);
    got = received;
    if (result != dt_success) {
        if (result != dt_interrupted) // a stop or pause, not a failure
            FV_LOG_ERROR(logPrefix().toString() << "Download channel: Failed to receive data!");
        return received > 0 ? dt_success : result;
    }
    if (received == 0) {
        FV_LOG_ERROR(logPrefix().toString() << "The body ended before the range did");
        return dt_connection_closed;
    }
    return dt_success;
}

int CDownloadChannel::writeData(ILocalFile& file, const void* buffer, std::uint64_t size, std::uint64_t& done)
{
    m_attemptFile = &file;
    done = 0;
    if (!file.writeAt(buffer, static_cast<std::size_t>(size), filePosition())) {
        FV_LOG_ERROR(logPrefix().toString()
                     << "Download channel: Failed to write to file! (errno " << file.lastError() << ")");
        return dt_local_file_error;
    }
    done = size;
    m_unsynced += size;
    startWriteback(file, filePosition(), filePosition() + size);
    // Without a row there is nothing a sync could be counted in; the range's end still syncs.
    if (!m_rows || (m_unsynced < m_checkpoints.bytes && m_clock() - m_checkpointAt < m_checkpoints.interval))
        return dt_success;
    return storeCheckpoint(file, bytesDone() + size) ? dt_success : dt_local_file_error;
}

void CDownloadChannel::startWriteback(ILocalFile& file, std::uint64_t writtenFrom, std::uint64_t writtenTo)
{
    // Bytes reach the disk while the range downloads, so a checkpoint or the range's final sync
    // waits only for the last few MiB instead of everything written since the last one.
    constexpr std::uint64_t kWritebackStep = 8ull * 1024 * 1024;
    if (writtenFrom < m_writebackFrom || writtenFrom - m_writebackFrom > kWritebackStep)
        m_writebackFrom = writtenFrom; // a new attempt, or a range that started over
    if (writtenTo - m_writebackFrom < kWritebackStep)
        return;
    file.startWriteback(m_writebackFrom, writtenTo - m_writebackFrom);
    m_writebackFrom = writtenTo;
}

bool CDownloadChannel::storeCheckpoint(ILocalFile& file, std::uint64_t bytesWritten)
{
    if (!file.sync()) {
        FV_LOG_ERROR(logPrefix().toString()
                     << "Unable to make the written bytes durable (errno " << file.lastError() << ")");
        return false;
    }
    m_unsynced = 0;
    m_checkpointAt = m_clock();
    storeCheckpointValue(bytesWritten);
    return true;
}

bool CDownloadChannel::storeCheckpointValue(std::uint64_t bytesWritten)
{
    if (m_rows && !m_rows->updateCheckpoint(m_fileId, getOffset(), bytesWritten)) {
        FV_LOG_WARNING(logPrefix().toString() << "Unable to store the checkpoint " << bytesWritten);
        return false;
    }
    m_storedCheckpoint = bytesWritten;
    return true;
}

int CDownloadChannel::syncRange()
{
    ILocalFile* file = m_attemptFile;
    std::unique_ptr<ILocalFile> own;
    if (!file) {
        // No byte moved in this attempt: bytes of an earlier run may still wait in the cache.
        own = m_fileFactory ? m_fileFactory() : nullptr;
        if (!own || !own->open(m_tempPath, true))
            return dt_local_file_error;
        file = own.get();
    }
    if (!file->sync()) {
        FV_LOG_ERROR(logPrefix().toString() << "Unable to make the range durable (errno " << file->lastError() << ")");
        return dt_local_file_error;
    }
    m_unsynced = 0;
    return dt_success;
}

int CDownloadChannel::finishTransfer()
{
    // The range is durable before its digest can call it done, and done before its row says so.
    const int synced = syncRange();
    if (synced != dt_success)
        return synced;
    const std::string expected = expectedMd5();
    const std::string digest = takeRangeMd5Hex();
    if (expected.empty())
        return dt_success;
    FV_LOG_INFO(logPrefix().toString() << "Verifying channel checksum...");
    if (Poco::icompare(digest, expected) == 0) {
        FV_LOG_INFO(logPrefix().toString() << "Channel MD5 checksum validated successfully");
        return dt_success;
    }
    FV_LOG_ERROR(logPrefix().toString() << "Channel MD5 validation failed");
    takeBackProgress(); // the next request lowers the stored checkpoint before any byte is rewritten
    return dt_general_error;
}

void CDownloadChannel::onStateChanged(int state)
{
    if (state == statePaused)
        checkpointWrittenBytes();
    if (m_rows && !m_rows->updateState(m_fileId, getOffset(), static_cast<std::uint32_t>(state)))
        FV_LOG_WARNING(logPrefix().toString() << "Unable to store the channel state " << state);
}

void CDownloadChannel::beforeRunEnds(int result)
{
    if (result != dt_success)
        checkpointWrittenBytes();
}

void CDownloadChannel::checkpointWrittenBytes()
{
    m_attemptFile = nullptr; // between attempts: the attempt's file is closed
    const std::uint64_t written = bytesDone();
    if (!m_rows || written == m_storedCheckpoint)
        return;
    // A range that starts over counts nothing; lowering needs no sync.
    if (written < m_storedCheckpoint || syncRange() == dt_success)
        storeCheckpointValue(written);
}

} // namespace fv_transfers
