#pragma once

#include "core/http/HttpResponseFetcher.h"
#include "core/rest/RestTypes.h"
#include "db/ChannelsDbInfo.h"
#include "framework/TransferChannelBase.h"
#include "upload/UploadDetailsSource.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace fv_transfers {

// Sends one byte range of a local file with one PUT to the URL the service handed out for it,
// and accepts it only when the storage answers with the quoted lower-case MD5 of the bytes as
// its ETag. A range always restarts from its first byte: the storage keeps no partial object.
//
// The request asks for "100 Continue" so that a refused URL costs no body; a server that
// ignores the expectation gets the body after a short wait, and one that refuses it (417) is
// asked without it from the next attempt on.
class CUploadChannel : public CTransferChannelBase {
public:
    // How long the interim answer is waited for before the body goes out anyway.
    static constexpr std::chrono::milliseconds kContinueWait{1000};
    // The storage answers a PUT with a few lines; more is not an answer worth reading.
    static constexpr std::size_t kMaxAnswerBody = 1024 * 1024;

    // `file` gives the identity of the log lines and rows, `detailsSource` (may be null) the URL
    // and headers before each attempt; both must outlive the channel. With `storeRow` the channel writes
    // its row at once; a file that stores its whole plan in one transaction passes false.
    // A null `channelsTable` throws Poco::NullPointerException.
    CUploadChannel(const std::string& url, const ChannelDescription& range, const RestHeaderList& headers,
                   ITransferFile* file, IUploadDetailsSource* detailsSource, int channelNumber,
                   std::shared_ptr<ITransferBufferManager> bufferManager,
                   std::shared_ptr<CChannelsDbInfo> channelsTable, bool storeRow, ChannelSeams seams = {});
    ~CUploadChannel() override;

    void setSpeedLimit(unsigned bytesPerSecond) override;
    // 1 without starting when the range has no local path.
    int start() override;

    // Forgets the URL and headers, so that the next attempt takes fresh ones from the owner.
    void clearUploadDetails();

protected:
    int prepare() override;
    void prepareRequest(Poco::Net::HTTPRequest& request, std::uint64_t transferred) override;
    int afterRequestSent() override;
    int finishTransfer() override;
    int readData(ILocalFile& file, void* buffer, std::uint64_t size, std::uint64_t& got) override;
    int writeData(ILocalFile& file, const void* buffer, std::uint64_t size, std::uint64_t& done) override;
    bool supportsPartialRetry() override { return false; }
    unsigned openMode() override { return openRead; }
    void onStateChanged(int state) override;

private:
    // The answer that ends the exchange, read once per attempt.
    int receiveFinalResponse(Poco::Net::HTTPResponse*& response);
    // A URL the storage refuses (expired or revoked) is to be replaced before the next attempt.
    void noteRefusal(int status);
    static bool etagMatches(const Poco::Net::HTTPResponse& response, const std::string& md5);

    const std::string m_localPath;
    const std::string m_fileUid;
    IUploadDetailsSource* const m_detailsSource;
    const std::shared_ptr<CChannelsDbInfo> m_channelsTable;

    mutable std::mutex m_detailsLock;
    RestHeaderList m_headers;  // under m_detailsLock
    std::string m_expectedMd5; // under m_detailsLock; lower-case hex, empty when the owner gave none

    // The attempt's own, touched only by the channel's thread.
    bool m_askContinue = true; // cleared for good by a 417
    std::unique_ptr<CHttpResponseFetcher> m_fetcher;
    bool m_finalReceived = false; // the interim read already got the final answer
};

} // namespace fv_transfers
