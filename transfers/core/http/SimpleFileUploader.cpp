#include "core/http/SimpleFileUploader.h"

#include "core/files/LocalFile.h"
#include "core/http/CurlConnection.h"
#include "core/http/HttpResponseFetcher.h"
#include "core/log/ErrorCheckLog.h"
#include "core/log/FvTransfersLogger.h"

#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Net/HTTPRequest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace fv_transfers {

namespace {

// Whole TLS records, and few enough calls that the per-call cost stays small.
constexpr std::size_t kBlockSize = 16 * CCurlConnection::kTlsRecordPayload;

// The size of a regular file; false for anything else, or when it cannot be read.
bool regularFileSize(const std::string& path, std::uint64_t& size)
{
    try {
        const Poco::File file(path);
        if (!file.isFile())
            return false;
        size = file.getSize();
        return true;
    } catch (const Poco::Exception&) {
        return false;
    }
}

void logCheckFailure(int check, dt_error result)
{
    logErrorCheckFailed("DataTransport\\CSimpleFileUploader", "fv_transfers::CSimpleFileUploader::doUpload", check,
                        result);
}

// Sends exactly `size` bytes of the file; a file that ends early is an error.
dt_error sendFileBody(CCurlConnection& connection, ILocalFile& file, std::uint64_t size)
{
    std::vector<char> block(kBlockSize);
    std::uint64_t sentTotal = 0;
    while (sentTotal < size) {
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, size - sentTotal));
        std::size_t count = 0;
        if (!file.read(block.data(), wanted, count)) {
            FV_LOG_ERROR("CSimpleFileUploader::doUpload: the file ended after " << sentTotal << " of " << size
                                                                                << " bytes");
            return dt_general_error;
        }
        const dt_error result = connection.sendAll(block.data(), count);
        if (result != dt_success)
            return result;
        sentTotal += static_cast<std::uint64_t>(count);
    }
    return dt_success;
}

} // namespace

CSimpleFileUploader::CSimpleFileUploader(const std::string& url, const std::string& filePath)
    : url(url), filePath(filePath)
{
}

CSimpleFileUploader::~CSimpleFileUploader()
{
    // The body reader refers to the connection, so it goes first.
    m_responseFetcher.reset();
    m_connection.reset();
}

dt_error CSimpleFileUploader::doUpload(IHttpResponseBodyFetcher*& body, const HeaderList& headers)
{
    body = nullptr;
    m_responseFetcher.reset();
    m_connection = std::make_unique<CCurlConnection>();

    // The file is checked before anything is sent, so a failure never leaves a request half-way.
    const std::unique_ptr<ILocalFile> file = createLocalFile();
    std::uint64_t size = 0;
    if (!file->open(filePath, false) || !regularFileSize(filePath, size)) {
        FV_LOG_ERROR("CSimpleFileUploader::doUpload: cannot read " << filePath);
        return dt_local_file_error;
    }

    dt_error result = m_connection->connect(url, false);
    if (result != dt_success) {
        logCheckFailure(40, result);
        return result;
    }
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_POST, "/", Poco::Net::HTTPMessage::HTTP_1_1);
    for (const auto& header : headers)
        request.set(header.first, header.second);
    request.setContentLength64(static_cast<Poco::Int64>(size));
    result = m_connection->sendRequest(request);
    if (result != dt_success) {
        logCheckFailure(60, result);
        m_connection->discard();
        return result;
    }
    result = sendFileBody(*m_connection, *file, size);
    if (result != dt_success) {
        m_connection->discard();
        return result;
    }

    m_responseFetcher = std::make_unique<CHttpResponseFetcher>(m_connection.get());
    Poco::Net::HTTPResponse* response = nullptr;
    result = m_responseFetcher->fetch(response, body);
    if (result != dt_success) {
        logCheckFailure(101, result);
        m_connection->discard();
        return result;
    }
    const int status = static_cast<int>(response->getStatus());
    if (status < 200 || status >= 300) {
        FV_LOG_ERROR("Error uploading file, invalid HTTP status: " << status);
        return dt_network_error;
    }
    return dt_success;
}

} // namespace fv_transfers
