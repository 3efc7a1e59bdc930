#include "framework/FileProgressSender.h"

#include "core/base/ExceptionText.h"
#include "core/base/GuardedCall.h"
#include "core/base/SharedInstanceSlot.h"
#include "core/log/FvTransfersLogger.h"
#include "core/rest/RestApiFileStatusUpdate.h"
#include "core/system/EventDispatcher.h"

#include <exception>
#include <utility>

namespace fv_transfers {

namespace {

CSharedInstanceSlot<CFileProgressSender>& slot()
{
    static CSharedInstanceSlot<CFileProgressSender> instance;
    return instance;
}

// A status update that gives up within a wait slice once the sender stops, so the library's end
// never waits out the service's time-outs.
class StoppableStatusUpdate : public CRestApiFileStatusUpdate {
public:
    explicit StoppableStatusUpdate(const std::atomic<bool>& stopping)
    {
        m_connection.interrupted = [&stopping] { return stopping.load(); };
    }
};

} // namespace

std::shared_ptr<CFileProgressSender> CFileProgressSender::getInstance()
{
    try {
        return slot().getOrCreate([] { return std::make_shared<CFileProgressSender>(); });
    } catch (const std::exception& e) {
        FV_LOG_ERROR("fv_transfers::CFileProgressSender::getInstance: Exception: " << exceptionText(e));
        return nullptr;
    }
}

std::shared_ptr<CFileProgressSender> CFileProgressSender::findInstance()
{
    return slot().get();
}

void CFileProgressSender::destroyInstance()
{
    if (std::shared_ptr<CFileProgressSender> sender = slot().take())
        sender->stop();
}

CFileProgressSender::CFileProgressSender(NowFunction now, RestTimeouts timeouts)
    : m_now(std::move(now)), m_timeouts(timeouts), m_worker(std::make_unique<CEventDispatcher>("fv-progress"))
{
}

CFileProgressSender::~CFileProgressSender()
{
    stop();
}

void CFileProgressSender::setInterval(int seconds)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_intervalSeconds = seconds < 1 ? kDefaultIntervalSeconds : seconds;
}

int CFileProgressSender::interval() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_intervalSeconds;
}

void CFileProgressSender::sendProgress(const std::string& fileId, const std::string& bucketId, const std::string& token,
                                       std::uint64_t progress) noexcept
{
    guardedCall(
        0,
        [&] {
            // Posted outside the lock: the queued send takes the file's value when it runs.
            if (recordEvent(fileId, bucketId, token, progress))
                m_worker->post([this, fileId] { sendWaiting(fileId); });
            return 0;
        },
        [](const std::string& text) {
            FV_LOG_ERROR("fv_transfers::CFileProgressSender::sendProgress: Exception: " << text);
        });
}

bool CFileProgressSender::recordEvent(const std::string& fileId, const std::string& bucketId, const std::string& token,
                                      std::uint64_t progress)
{
    const std::chrono::steady_clock::time_point now = m_now();
    std::lock_guard<std::mutex> lock(m_lock);
    const auto found = m_files.find(fileId);
    if (found == m_files.end()) {
        m_files.emplace(fileId, FileEntry{now, std::nullopt});
        return false;
    }
    FileEntry& entry = found->second;
    // Whole seconds, truncated: 299.9 s is not yet 300.
    if (std::chrono::duration_cast<std::chrono::seconds>(now - entry.last).count() < m_intervalSeconds)
        return false;
    entry.last = now;
    // A value still waiting is replaced: the send already queued takes the newest one.
    const bool queued = entry.waiting.has_value();
    entry.waiting = ProgressRequestParams{fileId, bucketId, token, progress};
    return !queued;
}

void CFileProgressSender::forgetFile(const std::string& fileId)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_files.erase(fileId);
}

void CFileProgressSender::stop()
{
    m_stopping = true;
    m_worker->stop();
}

void CFileProgressSender::sendWaiting(const std::string& fileId)
{
    std::optional<ProgressRequestParams> params;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        const auto found = m_files.find(fileId);
        // A file forgotten since, or whose value an earlier send of it already took.
        if (found == m_files.end() || !found->second.waiting)
            return;
        params.swap(found->second.waiting);
    }
    send(*params);
}

void CFileProgressSender::send(const ProgressRequestParams& params) const
{
    StoppableStatusUpdate call(m_stopping);
    call.setTimeouts(m_timeouts);
    FileStatusRequestParams request;
    request.fileId = params.fileId;
    request.bucketId = params.bucketId;
    request.bucketToken = params.token;
    request.progress = params.progress;
    request.status = REST_FILE_UPLOADING;
    if (call.execute(request) != dt_success) {
        if (!m_stopping)
            FV_LOG_ERROR("Error sending progress to server: file id = " << params.fileId);
        return;
    }
    if (call.getResult() != dt_success && !m_stopping)
        FV_LOG_ERROR("Error sending progress to server (invalid or no response): file id = " << params.fileId);
}

} // namespace fv_transfers
