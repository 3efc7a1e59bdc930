#include "framework/TransferChannelBase.h"

#include "core/base/DtError.h"
#include "core/files/FileDigest.h"
#include "core/log/FvTransfersLogger.h"
#include "framework/TransferFile.h"

#include <Poco/DigestEngine.h>

#include <pthread.h>

#include <algorithm>
#include <limits>

namespace fv_transfers {

namespace {

constexpr std::uint64_t kNoDigest = std::numeric_limits<std::uint64_t>::max();
// A limit wait re-reads the limit and the clock at least this often.
constexpr std::chrono::milliseconds kLimitWaitSlice{250};
// How long a pool shortage is waited out before the next try.
constexpr std::chrono::milliseconds kShortageWait{10};
constexpr std::chrono::seconds kShortageLogInterval{10};

int clampMs(std::uint32_t ms)
{
    return static_cast<int>(std::min<std::uint32_t>(ms, std::numeric_limits<int>::max()));
}

// A hook's failure as a run-loop result: 6, 7 and 8 mean a state change to the loop.
int hookFailure(int result)
{
    return result == dt_interrupted || result == dt_paused || result == dt_cancelled ? dt_general_error : result;
}

// What the loop answers a state that ended a transfer; dt_success for running.
int resultOfState(std::int32_t state)
{
    switch (state) {
    case ITransferChannel::stateStopRequested: return dt_interrupted;
    case ITransferChannel::statePaused: return dt_paused;
    case ITransferChannel::stateCancelRequested: return dt_cancelled;
    default: return dt_success;
    }
}

} // namespace

CTransferChannelBase::CTransferChannelBase(const std::string& url, const ChannelDescription& description,
                                           ITransferFile* ownerFile, int channelNumber,
                                           std::shared_ptr<ITransferBufferManager> bufferManager, ChannelSeams seams)
    : m_url(url), m_ownerFile(ownerFile), m_offset(description.offset), m_size(description.size),
      m_localPath(description.localPath), m_kind(description.kind), m_bufferManager(std::move(bufferManager)),
      m_seams(std::move(seams))
{
    int groupId = 0;
    if (ownerFile) {
        ownerFile->getFileUid(m_fileId);
        std::string bucketId;
        ownerFile->getBucketId(bucketId);
        groupId = ownerFile->getGroupId();
        m_logPrefix = CLogPrefix(bucketId, groupId, m_fileId);
    }
    m_logPrefix.subId = channelNumber;
    connection.interrupted = [this] { return noteInterruption(); };
    m_threadName =
        ("fv-" + description.threadTag + "-ch-" + std::to_string(groupId) + "-" + std::to_string(channelNumber))
            .substr(0, 15);
}

CTransferChannelBase::~CTransferChannelBase()
{
    FV_LOG_INFO(m_logPrefix.toString() << "Destroying channel. Url: " << currentUrl());
    try {
        shutdown();
    } catch (...) {
        FV_LOG_ERROR("Exception caught in destructor of CTransferChannelBase");
    }
}

void CTransferChannelBase::shutdown()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const std::int32_t state = m_state.load();
        if (m_running && state != stateStopRequested && state != stateCancelRequested)
            m_state = stateCancelRequested;
        m_wake.notify_all();
    }
    joinThread();
}

void CTransferChannelBase::joinThread()
{
    // From the channel's own thread (an event handler) the request stands; the run ends on its own.
    if (std::this_thread::get_id() == m_threadId.load())
        return;
    std::lock_guard<std::mutex> joinGuard(m_joinLock);
    if (m_thread.joinable())
        m_thread.join();
}

void CTransferChannelBase::setMaxRetries(int maxRetries)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_running)
        m_maxRetries = maxRetries;
}

void CTransferChannelBase::setSpeedLimit(unsigned bytesPerSecond)
{
    m_speedLimit = bytesPerSecond;
    std::lock_guard<std::mutex> guard(m_lock);
    m_wake.notify_all(); // a limit wait re-reads the limit
}

void CTransferChannelBase::setTimeouts(const ChannelTimeouts& timeouts)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_timeouts = timeouts;
}

void CTransferChannelBase::setUrl(const std::string& url)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_url = url;
}

std::string CTransferChannelBase::currentUrl()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_url;
}

std::string CTransferChannelBase::describe()
{
    return "Channel url: " + currentUrl() + ". Offset: " + std::to_string(m_offset);
}

void CTransferChannelBase::logControl(const char* verb)
{
    if (!m_kind.empty())
        FV_LOG_INFO(m_logPrefix.toString() << verb << " " << m_kind << " of a channel. " << describe());
}

int CTransferChannelBase::start()
{
    std::lock_guard<std::mutex> joinGuard(m_joinLock);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_running)
            return 0;
    }
    if (m_thread.joinable())
        m_thread.join();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_state.load() != statePaused)
            m_state = stateRunning;
        m_expectedEndState = stateRunning;
        m_running = true;
    }
    m_thread = std::thread([this] {
        m_threadId = std::this_thread::get_id();
        run();
    });
    ::pthread_setname_np(m_thread.native_handle(), m_threadName.c_str());
    return 0;
}

void CTransferChannelBase::stop()
{
    logControl("Canceling");
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_running && m_state.load() != stateCancelRequested)
            m_state = stateStopRequested;
        m_wake.notify_all();
    }
    joinThread();
}

bool CTransferChannelBase::isRunning()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_running;
}

void CTransferChannelBase::stopAsync(std::function<void(int)> completion)
{
    logControl("Stoping");
    int value = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_running) {
            if (m_state.load() != stateStopRequested) {
                m_state = stateCancelRequested;
                m_expectedEndState = stateCancelRequested;
                m_completions.push_back(std::move(completion));
                m_wake.notify_all();
                return;
            }
            value = 0;
        } else {
            value = m_lastEventState == 0 ? 1 : 0;
        }
    }
    // Outside the lock: the completion may call back into the channel.
    if (completion)
        completion(value);
}

bool CTransferChannelBase::changeState(std::int32_t from, std::int32_t to)
{
    std::lock_guard<std::mutex> guard(m_lock);
    const bool changed = m_state.compare_exchange_strong(from, to);
    m_wake.notify_all();
    return changed;
}

void CTransferChannelBase::pause()
{
    logControl("Pausing");
    if (!changeState(stateRunning, statePaused))
        changeState(stateNew, statePaused);
}

void CTransferChannelBase::resume()
{
    logControl("Resuming");
    changeState(statePaused, stateRunning);
}

bool CTransferChannelBase::isPaused()
{
    return stateIs(statePaused);
}

std::uint64_t CTransferChannelBase::getOffset()
{
    return m_offset;
}

ITransferFile* CTransferChannelBase::getOwnerFile()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_ownerFile;
}

void CTransferChannelBase::setOwnerFile(ITransferFile* file)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_ownerFile = file;
}

void CTransferChannelBase::setBytesDone(std::uint64_t done)
{
    m_done = std::min(done, m_size);
    m_digestBytes = kNoDigest;
}

std::string CTransferChannelBase::takeRangeMd5Hex()
{
    m_digestBytes = kNoDigest;
    return Poco::DigestEngine::digestToHex(m_md5.digest());
}

void CTransferChannelBase::run()
{
    try {
        m_partial = supportsPartialRetry();
        raiseState(stateRunning, 0);
        std::int32_t outcome = outcomeInternal;
        const int result = runAttempts(outcome);
        beforeRunEnds(result);
        endRun(result, outcome);
    } catch (const std::exception& e) {
        FV_LOG_ERROR(m_logPrefix.toString() << "Exception caught in Transfer Channel while transferring: " << e.what());
        raiseStateNoThrow(stateErrored, outcomeInternal);
    } catch (...) {
        FV_LOG_ERROR(m_logPrefix.toString() << "fv_transfers::CTransferChannelBase::run"
                                            << ": Exception...");
        raiseStateNoThrow(stateErrored, outcomeInternal);
    }
    connection.disconnect();
    std::vector<std::function<void(int)>> completions;
    bool asExpected = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_running = false;
        completions.swap(m_completions);
        asExpected = m_lastEventState == m_expectedEndState;
    }
    for (auto& completion : completions)
        if (completion)
            completion(asExpected ? 1 : 0);
}

int CTransferChannelBase::runAttempts(std::int32_t& outcome)
{
    if (!m_partial)
        takeBackProgress();
    const int allowed = std::max(1, maxRetries());
    int attempts = 0;
    std::chrono::milliseconds backOff = m_seams.firstBackOff;
    for (;;) {
        if (stateIs(statePaused))
            waitPaused();
        if (stateIs(stateStopRequested))
            return dt_interrupted;
        if (stateIs(stateCancelRequested))
            return dt_cancelled;

        m_interruptedBy = stateRunning;
        onStateChanged(stateRunning);
        const int prepared = prepare();
        if (prepared != 0) {
            outcome = prepared == dt_unexpected_http_response ? outcomeConnect : outcomePrepare;
            return hookFailure(prepared);
        }
        std::unique_ptr<ILocalFile> file = m_seams.fileFactory ? m_seams.fileFactory() : nullptr;
        if (!file) {
            FV_LOG_ERROR(m_logPrefix.toString() << "Unable to create file object!");
            outcome = outcomeInternal;
            return dt_general_error;
        }
        FV_LOG_INFO(m_logPrefix.toString()
                    << "Transfer channel: opening file. File id: " << m_fileId << ". offset: " << m_offset);
        if (openFile(*file) != 0) {
            FV_LOG_ERROR(m_logPrefix.toString() << "Transfer Error: unable to open file");
            outcome = outcomeLocalFile;
            return dt_general_error;
        }
        if (md5Enabled && !syncDigest(*file))
            takeBackProgress();

        const int connected = needsRequest() ? connectAndRequest() : dt_success;
        const int result = connected == 0 ? transferData(*file) : connected;
        // Never reused: an answer not read to its end, or a request cut short, must not reach
        // the next request.
        connection.disconnect();
        file->close();

        if (connected == 0 && (result == dt_success || result == dt_interrupted || result == dt_cancelled))
            return result;
        if (connected == 0 && result == dt_paused)
            FV_LOG_INFO(m_logPrefix.toString() << "Transfer channel: received paused request. File id: " << m_fileId
                                               << ". offset: " << m_offset);
        if (result == dt_paused || stateChanged()) {
            // Not a failed attempt: the loop's top honours the state, and a range that cannot
            // continue starts over, so that no attempt sends a part of it.
            if (!m_partial)
                takeBackProgress();
            continue;
        }

        ++attempts;
        if (connected != 0)
            FV_LOG_ERROR(m_logPrefix.toString() << "Transfer Error: unable to initiate connection: " << currentUrl()
                                                << " (" << connection.lastErrorText() << ")");
        else
            FV_LOG_WARNING(m_logPrefix.toString() << "Error when transferring part using uri " << currentUrl()
                                                  << ". Trying to reconnect... Bytes already transferred: " << m_done
                                                  << ". Part transfer attempts: " << attempts);
        if (!m_partial)
            takeBackProgress();
        if (attempts >= allowed) {
            if (connected != 0) {
                outcome = outcomeConnect;
                return dt_general_error;
            }
            outcome = result == dt_local_file_error ? outcomeLocalFile : outcomeData;
            return result;
        }
        waitWhileRunning(backOff);
        backOff = std::min(backOff * 2, m_seams.maxBackOff);
    }
}

int CTransferChannelBase::maxRetries()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_maxRetries;
}

void CTransferChannelBase::endRun(int result, std::int32_t outcome)
{
    // A channel that cannot continue a range loses its bytes whenever a run ends unfinished.
    if (result != dt_success && !m_partial)
        takeBackProgress();
    switch (result) {
    case dt_success:
        onStateChanged(stateCompleted);
        raiseState(stateCompleted, 0);
        break;
    case dt_interrupted:
        onStateChanged(stateStopRequested);
        raiseState(stateStopRequested, 0);
        break;
    case dt_cancelled:
        FV_LOG_INFO(m_logPrefix.toString()
                    << "Stopped transfer of a channel. url: " << currentUrl() << " offset: " << m_offset);
        raiseState(stateCancelRequested, 0);
        break;
    default:
        onStateChanged(stateErrored);
        raiseState(stateErrored, outcome);
        break;
    }
}

void CTransferChannelBase::raiseState(std::int32_t state, std::int32_t outcome)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_lastEventState = state;
    }
    StateEventData data{state, outcome};
    stateEvent.notify(this, data);
}

void CTransferChannelBase::raiseStateNoThrow(std::int32_t state, std::int32_t outcome)
{
    try {
        raiseState(state, outcome);
    } catch (...) {
        FV_LOG_ERROR(m_logPrefix.toString() << "fv_transfers::CTransferChannelBase::run: Exception...");
    }
}

void CTransferChannelBase::reportProgress(std::int64_t bytes)
{
    m_reported += static_cast<std::uint64_t>(bytes);
    Poco::Int64 value = bytes;
    progressEvent.notify(this, value);
}

void CTransferChannelBase::takeBackProgress()
{
    m_done = 0;
    m_md5.reset();
    m_digestBytes = 0;
    if (m_reported == 0)
        return;
    Poco::Int64 value = -static_cast<Poco::Int64>(m_reported);
    m_reported = 0;
    progressEvent.notify(this, value);
}

void CTransferChannelBase::waitPaused()
{
    FV_LOG_INFO(m_logPrefix.toString() << "Transfer channel: entering paused state. file id: " << m_fileId
                                       << ". offset: " << m_offset);
    onStateChanged(statePaused);
    raiseState(statePaused, 0);
    {
        // No deadline: stop, cancel and the destructor end it through the state.
        std::unique_lock<std::mutex> guard(m_lock);
        m_wake.wait(guard, [this] { return m_state.load() != statePaused; });
    }
    if (stateIs(stateRunning))
        raiseState(stateRunning, 0);
}

bool CTransferChannelBase::waitWhileRunning(std::chrono::steady_clock::duration duration)
{
    std::unique_lock<std::mutex> guard(m_lock);
    return !m_wake.wait_for(guard, duration, [this] { return m_state.load() != stateRunning; });
}

int CTransferChannelBase::openFile(ILocalFile& file)
{
    if (!file.open(m_localPath, openMode() == openReadWrite)) {
        FV_LOG_ERROR(m_logPrefix.toString()
                     << "Unable to  open file: " << m_localPath << " (errno " << file.lastError() << ")");
        return dt_general_error;
    }
    FV_LOG_INFO(m_logPrefix.toString() << "File. Seek to " << filePosition());
    if (!file.seek(filePosition())) {
        FV_LOG_ERROR(m_logPrefix.toString() << "fv_transfers::CTransferChannelBase::openFile"
                                            << ": Unable to seek to position in file: " << filePosition());
        return dt_general_error;
    }
    return dt_success;
}

bool CTransferChannelBase::syncDigest(ILocalFile& file)
{
    if (m_digestBytes == m_done)
        return true;
    // The digest covers the range from its first byte: rebuild it from what the file holds.
    m_md5.reset();
    m_digestBytes = 0;
    if (m_done > 0 && !updateDigestFromFile(m_md5, file, m_offset + m_done, m_offset, m_done)) {
        FV_LOG_WARNING(m_logPrefix.toString()
                       << "Unable to rebuild the range digest from the file; the range restarts");
        return false;
    }
    m_digestBytes = m_done;
    return true;
}

int CTransferChannelBase::connectAndRequest()
{
    int redirects = 0;
    m_refreshes = 0;
    for (;;) {
        FV_LOG_INFO(m_logPrefix.toString() << "Transfer channel: Initiating connection to url" << currentUrl()
                                           << ". File id: " << m_fileId << ". offset: " << m_offset);
        const int result = initiateConnection();
        if (result == dt_success)
            return dt_success;
        connection.disconnect();
        if (stateChanged())
            return result;
        const int action = mapConnectError(result);
        if (action == connectRedirected && redirects < kMaxRedirectsPerAttempt) {
            ++redirects;
            continue;
        }
        if (action == connectRefreshed && m_refreshes < kMaxRefreshesPerAttempt) {
            ++m_refreshes;
            continue;
        }
        return hookFailure(result);
    }
}

int CTransferChannelBase::initiateConnection()
{
    ChannelTimeouts timeouts;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        timeouts = m_timeouts;
    }
    if (timeouts.connectionMs)
        connection.connectTimeoutMs = clampMs(timeouts.connectionMs);
    if (timeouts.sendMs)
        connection.sendTimeoutMs = clampMs(timeouts.sendMs);
    if (timeouts.receiveMs)
        connection.receiveTimeoutMs = clampMs(timeouts.receiveMs);

    const int connected = connection.connect(currentUrl(), true);
    if (connected != dt_success)
        return connected;
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, "/", Poco::Net::HTTPMessage::HTTP_1_1);
    prepareRequest(request, m_done);
    const int sent = connection.sendRequest(request);
    if (sent != dt_success)
        return sent;
    return afterRequestSent();
}

int CTransferChannelBase::transferData(ILocalFile& file)
{
    FV_LOG_INFO(m_logPrefix.toString() << "Starting data transfer");
    CBufferMngrTimeLimitted buffers(m_bufferManager, m_seams.clock, m_seams.bufferTimeLimit);
    m_tokens = 0;
    m_tokensAt = m_seams.clock();
    m_shortages = 0;
    // The state that ended the loop is the one answered: a pause undone by a resume meanwhile
    // is still a pause, never a failed attempt.
    std::int32_t state = m_state.load();
    while (m_done < m_size && state == stateRunning) {
        const std::uint64_t chunk = allowedBytes(m_size - m_done);
        if (chunk != 0) { // 0: the limit wait ended on a state change
            const int result = moveChunk(file, buffers, chunk);
            if (result != dt_success)
                return interruptionOr(result);
        }
        state = m_state.load();
    }
    if (m_done < m_size) {
        const int result = resultOfState(state);
        if (result != dt_success)
            return result;
        FV_LOG_ERROR(m_logPrefix.toString()
                     << "Transfer channel: transfer error, data not sent: " << (m_size - m_done));
        return dt_general_error;
    }
    const int finished = hookFailure(finishTransfer());
    return finished == dt_success ? dt_success : interruptionOr(finished);
}

bool CTransferChannelBase::noteInterruption()
{
    const std::int32_t state = m_state.load();
    if (state == stateRunning)
        return false;
    m_interruptedBy = state;
    return true;
}

int CTransferChannelBase::interruptionOr(int result) const
{
    const int interrupted = resultOfState(m_interruptedBy);
    return interrupted != dt_success ? interrupted : result;
}

int CTransferChannelBase::moveChunk(ILocalFile& file, CBufferMngrTimeLimitted& buffers, std::uint64_t chunk)
{
    CTransferBufferHandle buffer;
    try {
        buffer = buffers.getBuffer(chunk);
    } catch (const CBufferMngrTimeLimitted::TimeoutException& e) {
        FV_LOG_ERROR(m_logPrefix.toString() << "Exception caught when retrieving buffer: " << e.what());
        return dt_general_error;
    } catch (const ITransferBufferManager::CInsufficientMemoryException& e) {
        logBufferShortage(e.what());
        waitWhileRunning(kShortageWait);
        return dt_success;
    }
    m_shortages = 0;
    std::uint64_t got = 0;
    try {
        const std::uint64_t room = std::min(chunk, buffer->capacity - buffer->dataSize);
        const int read = readData(file, buffer->data + buffer->dataSize, room, got);
        if (read != dt_success)
            return hookFailure(read);
        got = std::min(got, room);
        if (got == 0)
            return dt_success; // the source already waited; the loop checks the state again
        buffer->commit(got);
    } catch (const std::exception& e) {
        FV_LOG_ERROR(m_logPrefix.toString() << "Exception caught when copying data to output buffer: " << e.what());
        return dt_general_error;
    }
    m_tokens -= static_cast<double>(got);
    // The received bytes are written out whole before a pause is honoured: a partial retry
    // continues after the last byte written, so none may be left behind.
    const char* data = buffer->data + buffer->dataSize - got;
    std::uint64_t consumed = 0;
    while (consumed < got) {
        std::uint64_t done = 0;
        const int written = writeData(file, data + consumed, got - consumed, done);
        done = std::min(done, got - consumed);
        if (done > 0) {
            if (md5Enabled) {
                m_md5.update(data + consumed, static_cast<std::size_t>(done));
                m_digestBytes += done;
            }
            consumed += done;
            m_done += done;
            reportProgress(static_cast<std::int64_t>(done));
        }
        if (written != dt_success) {
            if (written != dt_interrupted)
                FV_LOG_ERROR(m_logPrefix.toString() << "Transfer channel: Data send failure");
            return hookFailure(written);
        }
    }
    return dt_success;
}

std::uint64_t CTransferChannelBase::allowedBytes(std::uint64_t wanted)
{
    for (;;) {
        const unsigned limit = m_speedLimit.load();
        if (limit == 0)
            return wanted;
        // A bucket of an eighth of a second's worth: short bursts stay close to the limit.
        const double capacity = std::max(static_cast<double>(limit) / 8.0, 1.0);
        const auto now = m_seams.clock();
        const double elapsed = std::chrono::duration<double>(now - m_tokensAt).count();
        m_tokensAt = now;
        m_tokens = std::min(capacity, m_tokens + std::max(elapsed, 0.0) * limit);
        if (m_tokens >= 1.0)
            return std::min<std::uint64_t>(wanted, static_cast<std::uint64_t>(m_tokens));
        const auto missing = std::chrono::duration<double>((1.0 - m_tokens) / limit);
        const auto wait = std::min<std::chrono::steady_clock::duration>(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(missing) + std::chrono::milliseconds(1),
            kLimitWaitSlice);
        if (!waitWhileRunning(wait))
            return 0;
    }
}

void CTransferChannelBase::logBufferShortage(const std::string& text)
{
    const auto now = m_seams.clock();
    ++m_shortages;
    if (m_shortages == 1 || now - m_lastShortageLog >= kShortageLogInterval) {
        m_lastShortageLog = now;
        FV_LOG_ERROR(m_logPrefix.toString()
                     << "Exception caught when retrieving buffer after " << m_shortages << " atempts: " << text);
    }
}

} // namespace fv_transfers
