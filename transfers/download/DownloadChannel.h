#pragma once

#include "core/http/HttpResponseFetcher.h"
#include "db/DownloadChannelsDbInfo.h"
#include "download/DownloadUrlSource.h"
#include "framework/TransferChannelBase.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace fv_transfers {

// The byte range a download channel fetches into the file's temp file.
struct DownloadChannelParams {
    std::string tempPath; // UTF-8
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::string expectedMd5; // hex of the range's MD5; empty: not checked
    // Bytes of the range already durable in the temp file (the stored checkpoint).
    std::uint64_t checkpoint = 0;
    // A new channel stores its row; a restored one, or one whose file stores the whole plan in
    // one transaction, does not.
    bool storeRow = true;
};

// How often the bytes written are made durable and counted in the channel's row.
struct DownloadCheckpointPolicy {
    std::uint64_t bytes = 64ull * 1024 * 1024;
    std::chrono::steady_clock::duration interval = std::chrono::seconds(10);
};

// One byte range of a download as a ranged GET. Every request asks for the rest of the range
// and only an answer that is exactly that range is written; redirects and refused signed URLs
// are followed within the base's caps. What the row says is always true of the temp file: a
// checkpoint counts only synced bytes, it is lowered before a range restarts, and state 3 is
// stored only after the range was synced and its MD5 matched.
class CDownloadChannel : public CTransferChannelBase {
public:
    // Results of the request hooks beside the transport's dt_error values.
    enum Result : int {
        resultRedirected = 6, // the channel took the answer's Location as its URL
        resultForbidden = 8,  // the URL was refused: a signed URL that expired
        resultNoUrl = 17,     // the owner gave no URL
    };

    // `file` names the file in the log and the rows; `urlSource` gives the URL; either may be
    // the same object. `rows` may be null (nothing stored).
    CDownloadChannel(const DownloadChannelParams& params, ITransferFile* file, IDownloadUrlSource* urlSource,
                     int channelNumber, std::shared_ptr<ITransferBufferManager> bufferManager,
                     std::shared_ptr<CDownloadChannelsDbInfo> rows, ChannelSeams seams = {},
                     DownloadCheckpointPolicy checkpoints = {});
    ~CDownloadChannel() override;

    int start() override;
    // A file that lets its channels go clears its URL source with it.
    void setOwnerFile(ITransferFile* file) override;
    void setExpectedMd5(const std::string& md5);

protected:
    int prepare() override;
    int mapConnectError(int error) override;
    void prepareRequest(Poco::Net::HTTPRequest& request, std::uint64_t transferred) override;
    int afterRequestSent() override;
    int finishTransfer() override;
    int readData(ILocalFile& file, void* buffer, std::uint64_t size, std::uint64_t& got) override;
    int writeData(ILocalFile& file, const void* buffer, std::uint64_t size, std::uint64_t& done) override;
    bool supportsPartialRetry() override { return true; }
    unsigned openMode() override { return openReadWrite; }
    bool needsRequest() override { return bytesDone() < rangeSize(); }
    void onStateChanged(int state) override;
    void beforeRunEnds(int result) override;

private:
    int judgeResponse(const Poco::Net::HTTPResponse& response);
    int followRedirect(const Poco::Net::HTTPResponse& response);
    int acceptPartialContent(const Poco::Net::HTTPResponse& response);
    int acceptWholeContent(const Poco::Net::HTTPResponse& response);
    int refreshUrl();
    IDownloadUrlSource* urlSource();
    std::string expectedMd5();
    int syncRange();
    void startWriteback(ILocalFile& file, std::uint64_t writtenFrom, std::uint64_t writtenTo);
    bool storeCheckpoint(ILocalFile& file, std::uint64_t bytesWritten);
    bool storeCheckpointValue(std::uint64_t bytesWritten);
    // Counts every byte written so far in the row, synced first, so that a run that ends
    // unfinished, or a pause that outlasts the process, resumes at its last byte.
    void checkpointWrittenBytes();

    const std::string m_tempPath;
    std::string m_fileId;
    std::shared_ptr<CDownloadChannelsDbInfo> m_rows;
    std::function<std::unique_ptr<ILocalFile>()> m_fileFactory;
    ChannelSeams::Clock m_clock;
    const DownloadCheckpointPolicy m_checkpoints;

    std::mutex m_mutex;
    IDownloadUrlSource* m_urlSource; // under m_mutex
    std::string m_expectedMd5;       // under m_mutex

    // The channel thread's own.
    std::unique_ptr<CHttpResponseFetcher> m_fetcher;
    IHttpResponseBodyFetcher* m_body = nullptr;
    std::string m_sourceUrl;             // the URL the file last gave (before any redirect)
    std::uint64_t m_requestFirst = 0;    // first byte of the range the current request asked for
    bool m_checkpointLowered = true;     // the stored checkpoint was no higher than the request's start
    ILocalFile* m_attemptFile = nullptr; // the file of the current attempt once data moved
    std::uint64_t m_storedCheckpoint = 0;
    std::uint64_t m_unsynced = 0;
    std::uint64_t m_writebackFrom = 0; // file offset up to which writeback was started
    std::chrono::steady_clock::time_point m_checkpointAt;
};

} // namespace fv_transfers
