#pragma once

#include "core/files/LocalFile.h"
#include "core/http/CurlConnection.h"
#include "core/log/LogPrefix.h"
#include "framework/BufferMngrTimeLimitted.h"
#include "framework/TransferBufferManager.h"
#include "framework/TransferChannel.h"

#include <Poco/Crypto/DigestEngine.h>
#include <Poco/Net/HTTPRequest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fv_transfers {

// The range a channel moves and the kind of thread that moves it.
struct ChannelDescription {
    std::string localPath; // UTF-8
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::string threadTag = "ch"; // "dl" or "ul": names the thread "fv-<tag>-ch-<group>-<channel>"
    // "download" or "upload": names the transfer in the log lines of stop, pause and resume;
    // empty: those are not logged.
    std::string kind;
};

// What a channel takes from its surroundings; tests replace them.
struct ChannelSeams {
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    std::function<std::unique_ptr<ILocalFile>()> fileFactory = createLocalFile;
    Clock clock = [] { return std::chrono::steady_clock::now(); };
    // Wait before the next attempt, doubling per failed attempt up to the maximum.
    std::chrono::milliseconds firstBackOff{250};
    std::chrono::milliseconds maxBackOff{5000};
    std::chrono::steady_clock::duration bufferTimeLimit = std::chrono::seconds(60);
};

// What upload and download channels share: the state machine the engine drives, the run loop
// with its bounded retries, the local file, and the data loop that moves bytes through pool
// buffers under a speed limit into an MD5 digest. Derived channels fill in the hooks.
//
// A derived channel must call shutdown() in its destructor: the thread calls the hooks, which
// are gone once the base destructor runs.
class CTransferChannelBase : public ITransferChannel {
public:
    // What mapConnectError makes of a failed connection or request.
    enum ConnectAction : int {
        connectRedirected = 0, // the channel now holds the new URL: try again at once
        connectFailed = 2,     // the attempt failed
        connectRefreshed = 3,  // the owner gave a fresh URL: try again at once
    };
    static constexpr int kMaxRedirectsPerAttempt = 5;
    static constexpr int kMaxRefreshesPerAttempt = 2;

    // How the local file is opened.
    enum OpenMode : unsigned { openRead = 0, openReadWrite = 1 };

    CTransferChannelBase(const std::string& url, const ChannelDescription& description, ITransferFile* ownerFile,
                         int channelNumber, std::shared_ptr<ITransferBufferManager> bufferManager,
                         ChannelSeams seams = {});
    ~CTransferChannelBase() override;
    CTransferChannelBase(const CTransferChannelBase&) = delete;
    CTransferChannelBase& operator=(const CTransferChannelBase&) = delete;

    void setMaxRetries(int maxRetries) override;
    void setSpeedLimit(unsigned bytesPerSecond) override;
    void setTimeouts(const ChannelTimeouts& timeouts) override;
    void setUrl(const std::string& url) override;
    int start() override;
    void stop() override;
    bool isRunning() override;
    void stopAsync(std::function<void(int)> completion) override;
    void pause() override;
    void resume() override;
    bool isPaused() override;
    std::uint64_t getOffset() override;
    ITransferFile* getOwnerFile() override;
    void setOwnerFile(ITransferFile* file) override;

protected:
    // Called before each attempt; non-zero ends the run (13: {2, 3}, else {2, 6}).
    virtual int prepare() { return 0; }
    // Told the non-zero result of a connect or of afterRequestSent; a ConnectAction.
    virtual int mapConnectError(int) { return connectFailed; }
    // Whether a refreshed URL would still be tried in this attempt: a hook asks before it costs
    // the owner a refresh whose URL would never be used.
    bool mayRefreshUrl() const { return m_refreshes < kMaxRefreshesPerAttempt; }
    // Fills the request head; `transferred` bytes of the range are already in place.
    virtual void prepareRequest(Poco::Net::HTTPRequest&, std::uint64_t) {}
    // After the head went out: a body to send, an answer head to read. Non-zero goes to
    // mapConnectError.
    virtual int afterRequestSent() { return 0; }
    // After the whole range moved: the answer, the digest. Non-zero fails the attempt.
    virtual int finishTransfer() { return 0; }
    // Produces up to `size` bytes. 0 bytes with 0 means "nothing yet" (the source already waited);
    // a source that ends before the range does must return an error.
    virtual int readData(ILocalFile& file, void* buffer, std::uint64_t size, std::uint64_t& got) = 0;
    // Consumes up to `size` bytes, reporting only those it really moved in `done`.
    virtual int writeData(ILocalFile& file, const void* buffer, std::uint64_t size, std::uint64_t& done) = 0;
    // Whether a failed or interrupted attempt continues from the bytes already moved.
    virtual bool supportsPartialRetry() = 0;
    virtual unsigned openMode() = 0;
    // Whether the attempt sends a request; false goes straight to finishTransfer (a range with
    // nothing left to fetch).
    virtual bool needsRequest() { return true; }
    // Told 1, 2, 3, 4 and 5 at the transitions of the run.
    virtual void onStateChanged(int state) = 0;
    // Told the result of a run about to end, before its end event: what the next run needs of
    // this one must be stored here.
    virtual void beforeRunEnds(int) {}

    // Ends the run (as cancelled unless a stop is pending) and joins the thread.
    void shutdown();
    // The file position of the next byte of the range to move.
    std::uint64_t filePosition() const { return m_offset + m_done; }
    std::uint64_t rangeSize() const { return m_size; }
    // Bytes of the range moved and kept. A channel built from a checkpoint sets them before its
    // first start; they are not reported as progress.
    std::uint64_t bytesDone() const { return m_done; }
    void setBytesDone(std::uint64_t done);
    // The range starts over from its first byte; the progress reported is taken back.
    void takeBackProgress();
    // Lower-case hex MD5 of the bytes of the range moved so far; ends the digest, so that the
    // next attempt rebuilds it from the file.
    std::string takeRangeMd5Hex();
    std::string currentUrl();
    // "Channel url: <url>. Offset: <offset>", as the log lines name a channel.
    std::string describe();
    const CLogPrefix& logPrefix() const { return m_logPrefix; }

    CCurlConnection connection;
    bool md5Enabled = true;

private:
    void run();
    void joinThread();
    // Logs "<verb> <kind> of a channel. <describe()>" for a channel with a kind.
    void logControl(const char* verb);
    int runAttempts(std::int32_t& outcome);
    void endRun(int result, std::int32_t outcome);
    void raiseState(std::int32_t state, std::int32_t outcome);
    void raiseStateNoThrow(std::int32_t state, std::int32_t outcome);
    int maxRetries();
    void reportProgress(std::int64_t bytes);
    void waitPaused();
    // Waits up to `duration`, or until the state leaves running; false when it left.
    bool waitWhileRunning(std::chrono::steady_clock::duration duration);
    bool stateIs(std::int32_t state) const { return m_state.load() == state; }
    // The connection's interrupt check: true, remembering the state, once the state left running.
    bool noteInterruption();
    // Whether a state change ended the attempt's last wait or holds now.
    bool stateChanged() const { return m_interruptedBy != stateRunning || !stateIs(stateRunning); }
    // The result that answers a state change that interrupted a wait; `result` when none did.
    int interruptionOr(int result) const;
    // Compare-and-swap under the lock, waking every wait; false when the state was not `from`.
    bool changeState(std::int32_t from, std::int32_t to);

    int openFile(ILocalFile& file);
    int connectAndRequest();
    int initiateConnection();
    bool syncDigest(ILocalFile& file);
    int transferData(ILocalFile& file);
    int moveChunk(ILocalFile& file, CBufferMngrTimeLimitted& buffers, std::uint64_t chunk);
    std::uint64_t allowedBytes(std::uint64_t wanted);
    void logBufferShortage(const std::string& text);

    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::mutex m_joinLock; // serialises starting and joining the thread; taken before m_lock
    std::thread m_thread;
    std::atomic<std::thread::id> m_threadId{}; // of the latest run
    bool m_running = false;                    // under m_lock: a run is in progress
    int m_refreshes = 0;                       // forced URL refreshes in this attempt; the run thread only
    std::atomic<std::int32_t> m_state{stateNew};
    std::atomic<unsigned> m_speedLimit{0};
    std::int32_t m_maxRetries = 0;
    std::int32_t m_lastEventState = 0;
    std::int32_t m_expectedEndState = stateRunning;      // under m_lock
    std::vector<std::function<void(int)>> m_completions; // under m_lock
    std::string m_url;                                   // under m_lock
    ChannelTimeouts m_timeouts;                          // under m_lock; 0 keeps the connection's own
    ITransferFile* m_ownerFile;                          // under m_lock
    const std::uint64_t m_offset;
    const std::uint64_t m_size;
    const std::string m_localPath;
    const std::string m_kind;
    std::string m_fileId;
    std::string m_threadName;
    CLogPrefix m_logPrefix;
    std::shared_ptr<ITransferBufferManager> m_bufferManager;
    ChannelSeams m_seams;

    // The run's own, touched only by the channel's thread (or before it starts).
    bool m_partial = false;
    std::int32_t m_interruptedBy = stateRunning; // the state that interrupted a wait of this attempt
    std::uint64_t m_done = 0;                    // bytes of the range moved and kept
    std::uint64_t m_reported = 0;                // of them, reported through progressEvent
    Poco::Crypto::DigestEngine m_md5{"MD5"};     // OpenSSL's MD5: about 40 % faster than Poco's
    std::uint64_t m_digestBytes = 0;             // bytes of the range m_md5 covers; ~0 when it covers none
    double m_tokens = 0;                         // speed limit bucket
    std::chrono::steady_clock::time_point m_tokensAt;
    std::chrono::steady_clock::time_point m_lastShortageLog;
    std::uint64_t m_shortages = 0;
};

} // namespace fv_transfers
