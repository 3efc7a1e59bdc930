#pragma once

#include "core/base/DtError.h"
#include "core/base/ExceptionText.h"
#include "core/log/FvTransfersLogger.h"
#include "framework/FailedGroupsRestarter.h"

#include <algorithm>
#include <exception>

namespace fv_transfers {

namespace group_base_detail {

inline std::int64_t wallNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace group_base_detail

template <typename ICallback, typename File, typename Details>
CGroupBase<ICallback, File, Details>::CGroupBase(const GroupInitParams& params, ICallback* callback, ClockFunction now)
    : m_bucketId(params.bucketId), m_groupId(params.groupId), m_bucketToken(params.bucketToken),
      m_bucketType(params.bucketType), m_tokenExpiration(params.tokenExpiration),
      m_creationTimeMs(group_base_detail::wallNowMs()), m_logPrefix(params.bucketId, params.groupId, std::string()),
      m_tasksExecutor(params.tasksExecutor), m_now(std::move(now)), m_callback(callback)
{
}

template <typename ICallback, typename File, typename Details> CGroupBase<ICallback, File, Details>::~CGroupBase()
{
    // Nothing may resume a group that is gone; the restarter holds it weakly in any case.
    if (std::shared_ptr<CFailedGroupsRestarter> restarter = CFailedGroupsRestarter::findInstance())
        restarter->unregisterGroup(this);
}

template <typename ICallback, typename File, typename Details> void CGroupBase<ICallback, File, Details>::pause()
{
    std::lock_guard<std::mutex> lock(m_groupLock);
    setState(CTransferManagerBase::GROUP_PAUSED, 0);
    m_tracker.stop();
    pauseFiles();
}

template <typename ICallback, typename File, typename Details>
void CGroupBase<ICallback, File, Details>::requestResume(bool automatic)
{
    if (ITransferEngineCallback* engine = getEngineCallback())
        engine->resumeGroup(m_groupId, automatic);
}

template <typename ICallback, typename File, typename Details> void CGroupBase<ICallback, File, Details>::cancel()
{
    std::lock_guard<std::mutex> lock(m_groupLock);
    if (m_cancelled)
        return;
    m_cancelled = true;
    unregisterFromRestarter();
    m_tracker.stop();
    cancelFiles();
    notifyGroupStateChanged(true, kReasonGeneral);
}

template <typename ICallback, typename File, typename Details>
void CGroupBase<ICallback, File, Details>::resetFileEntries()
{
    std::lock_guard<std::mutex> lock(m_groupLock);
    for (FileEntry& entry : m_files) {
        entry.state = CTransferManagerBase::FILE_COMPLETED;
        entry.pending = false;
    }
    notifyGroupStateChanged(true, kReasonGeneral);
}

template <typename ICallback, typename File, typename Details>
void CGroupBase<ICallback, File, Details>::resumeGroupAsync(bool automatic)
{
    std::lock_guard<std::mutex> lock(m_groupLock);
    try {
        // A resume already posted when the group was cancelled finds nothing to do.
        if (m_cancelled)
            return;
        m_lastFileError = 0;
        setState(CTransferManagerBase::GROUP_TRANSFERRING, 0);
        unregisterFromRestarter();
        if (!automatic) {
            FV_LOG_WARNING(logText() << "Group is manually resumed, resetting error counter");
            setRetryCounter(0, true);
        }
        m_tracker.resume();
        resumeFiles();
    } catch (const std::exception& e) {
        FV_LOG_ERROR(logText() << resumeGroupAsyncLogName() << ": exception: " << exceptionText(e));
    }
}

template <typename ICallback, typename File, typename Details>
void CGroupBase<ICallback, File, Details>::setRetryCounterLocked(std::uint32_t value, bool save)
{
    std::lock_guard<std::mutex> lock(m_groupLock);
    setRetryCounter(value, save);
}

template <typename ICallback, typename File, typename Details>
void CGroupBase<ICallback, File, Details>::setCallback(ICallback* callback)
{
    std::lock_guard<std::mutex> lock(m_groupLock);
    m_callback = callback;
}

template <typename ICallback, typename File, typename Details>
bool CGroupBase<ICallback, File, Details>::isCancelled() const
{
    std::lock_guard<std::mutex> lock(m_groupLock);
    return m_cancelled;
}

template <typename ICallback, typename File, typename Details>
std::int32_t CGroupBase<ICallback, File, Details>::fileErrorCodeOf(int error)
{
    switch (error) {
    case dt_local_file_error: return 1;
    case dt_file_changed: return 2;
    case dt_unexpected_http_response: return 3;
    case dt_network_error: return 4;
    case dt_rest_client_error: return 5;
    default: return 0;
    }
}

template <typename ICallback, typename File, typename Details>
CTransferManagerBase::FileState CGroupBase<ICallback, File, Details>::fileStateOf(const FileEntry& entry,
                                                                                  std::int32_t state) const
{
    CTransferManagerBase::FileState result;
    result.id = m_groupId;
    result.bucketId = m_bucketId;
    result.fileId = entry.fileUid;
    result.state = state;
    result.bytesTransferred = entry.transferredBytes;
    result.bytesTotal = entry.totalBytes;
    result.percentTransferred =
        entry.totalBytes == 0
            ? (state == CTransferManagerBase::FILE_COMPLETED ? 100.0f : 0.0f)
            : static_cast<float>(static_cast<double>(entry.transferredBytes) * 100.0 / entry.totalBytes);
    return result;
}

template <typename ICallback, typename File, typename Details>
void CGroupBase<ICallback, File, Details>::sendFileEvent(const CTransferManagerBase::FileState& state)
{
    if (m_callback)
        m_callback->onFileStateChanged(state);
}

template <typename ICallback, typename File, typename Details>
template <typename Table>
void CGroupBase<ICallback, File, Details>::applyState(GroupState& record, Table& table, std::int32_t stateCode,
                                                      std::int32_t value)
{
    const bool paused = stateCode == CTransferManagerBase::GROUP_PAUSED;
    const bool resumed = stateCode == CTransferManagerBase::GROUP_TRANSFERRING;
    if ((paused && !record.paused) || (resumed && record.paused)) {
        record.paused = paused;
        if (!table.updatePaused(m_groupId, paused))
            FV_LOG_ERROR(logText() << "Unable to store the paused state of the group");
    }
    record.errorCode = value;
    record.state = stateCode;
}

template <typename ICallback, typename File, typename Details>
void CGroupBase<ICallback, File, Details>::setRetryCounter(std::uint32_t value, bool save)
{
    FV_LOG_WARNING(logText() << "Setting retry counter to " << value);
    m_retryCounter = value;
    if (save)
        saveRetryCounter();
}

template <typename ICallback, typename File, typename Details>
bool CGroupBase<ICallback, File, Details>::allEnabledDone() const
{
    return std::all_of(m_files.begin(), m_files.end(), [](const FileEntry& entry) {
        return !entry.enabled || (entry.state == CTransferManagerBase::FILE_COMPLETED && !entry.pending);
    });
}

template <typename ICallback, typename File, typename Details>
bool CGroupBase<ICallback, File, Details>::hasQueuedEntry() const
{
    return std::any_of(m_files.begin(), m_files.end(),
                       [](const FileEntry& entry) { return entry.pending && entry.state == kFileQueued; });
}

template <typename ICallback, typename File, typename Details>
bool CGroupBase<ICallback, File, Details>::allFinished() const
{
    return std::all_of(m_files.begin(), m_files.end(), [](const FileEntry& entry) {
        return entry.state == CTransferManagerBase::FILE_COMPLETED || entry.state == CTransferManagerBase::FILE_ERRORED;
    });
}

template <typename ICallback, typename File, typename Details>
bool CGroupBase<ICallback, File, Details>::fillGroupState(GroupState& state, bool force, std::int32_t reason)
{
    std::uint64_t transferred = 0;
    for (const FileEntry& entry : m_files)
        transferred += entry.transferredBytes;
    if (m_cachedTotal == 0) {
        for (const FileEntry& entry : m_files) {
            if (entry.totalBytes != kSizeUnknown)
                m_cachedTotal += entry.totalBytes;
        }
    }
    state.bytesTransferred = transferred;
    state.bytesTotal = m_cachedTotal;
    state.retryCounter = m_retryCounter;
    state.cancelled = m_cancelled;
    state.creationTimeMs = m_creationTimeMs;
    if (state.bytesTotal != 0) {
        state.percentTransferred =
            std::min(100.0f, static_cast<float>(transferred) * 100.0f / static_cast<float>(state.bytesTotal));
        state.bytesTransferredPerSecond = m_tracker.GetLastTransferSpeed();
        state.estimatedEta = m_tracker.GetEtaMs();
        state.filesCompleted =
            static_cast<std::int32_t>(std::count_if(m_files.begin(), m_files.end(), [](const FileEntry& entry) {
                return entry.state == CTransferManagerBase::FILE_COMPLETED;
            }));
    } else {
        state.percentTransferred = m_files.empty() ? 0.0f : 100.0f;
        state.filesCompleted = static_cast<std::int32_t>(m_files.size());
        state.bytesTransferredPerSecond = 0;
        state.estimatedEta = 0;
    }

    // Reported once; nothing is decided for a group that has completed.
    if (m_completionReported)
        return false;
    // A cancelled group's entries may all read done or be gone: that is no completion, and no
    // failure to retry either.
    if (m_cancelled)
        return force;

    bool allDone = false;
    if (reason == CTransferManagerBase::FILE_COMPLETED || reason == kReasonGeneral) {
        allDone = allEnabledDone();
        if (allDone) {
            state.percentTransferred = 100.0f;
            state.bytesTransferred = state.bytesTotal;
            if (!hasQueuedEntry() && canComplete()) {
                FV_LOG_INFO(logText() << "Group assosiated with bucket id " << m_bucketId << " is completed!");
                setState(CTransferManagerBase::GROUP_TRANSFERRING, 0);
                state.state = CTransferManagerBase::GROUP_COMPLETED;
                removeFromDb();
            }
        }
        checkIfEmpty(state);
    }
    if (state.state != CTransferManagerBase::GROUP_COMPLETED &&
        (reason == CTransferManagerBase::FILE_COMPLETED || reason == CTransferManagerBase::FILE_ERRORED ||
         reason == kReasonGeneral))
        decideFinishedGroup(state, allDone);

    if (state.state == CTransferManagerBase::GROUP_COMPLETED) {
        m_completionReported = true;
        return true;
    }
    if (state.state == CTransferManagerBase::GROUP_TRANSFERRING && state.percentTransferred != 100.0f)
        return force;
    return true;
}

template <typename ICallback, typename File, typename Details>
void CGroupBase<ICallback, File, Details>::decideFinishedGroup(GroupState& state, bool allDone)
{
    if (!allFinished() || allDone) {
        if (state.state == CTransferManagerBase::GROUP_ERRORED)
            state.state = CTransferManagerBase::GROUP_TRANSFERRING;
        return;
    }
    // Paused by the user or after the last automatic retry, it stays so until a resume; an
    // errored group already waits for its retry, and a second look must not use up another.
    if (state.state == CTransferManagerBase::GROUP_PAUSED || state.state == CTransferManagerBase::GROUP_ERRORED)
        return;
    state.state = CTransferManagerBase::GROUP_ERRORED;
    state.errorCode = m_lastFileError;
    const bool retrying = onGroupError();
    state.retryCounter = m_retryCounter;
    if (!retrying) {
        state.state = CTransferManagerBase::GROUP_PAUSED;
        state.errorCode = m_lastFileError;
    }
}

template <typename ICallback, typename File, typename Details> bool CGroupBase<ICallback, File, Details>::onGroupError()
{
    m_tracker.stop();
    if (m_retryCounter < kMaxAutomaticRetries) {
        FV_LOG_INFO(logText() << "Group " << m_groupId << ": error counter is: " << m_retryCounter);
        setRetryCounter(m_retryCounter + 1, true);
        try {
            CFailedGroupsRestarter::getInstance()->registerGroup(shared_from_this());
        } catch (const std::exception& e) {
            FV_LOG_ERROR(logText() << "Group " << m_groupId
                                   << " could not be registered in group restarter: " << exceptionText(e));
        }
        return true;
    }
    FV_LOG_ERROR(logText() << "Group " << m_groupId << " has reached maximum number of auto retires ("
                           << kMaxAutomaticRetries
                           << "). Not registering group in group restarter. Group has to be restarted manually.");
    // PAUSED as the web app expects, but with the cause kept for the log and the main program.
    setState(CTransferManagerBase::GROUP_PAUSED, m_lastFileError);
    return false;
}

template <typename ICallback, typename File, typename Details>
void CGroupBase<ICallback, File, Details>::unregisterFromRestarter()
{
    if (std::shared_ptr<CFailedGroupsRestarter> restarter = CFailedGroupsRestarter::findInstance())
        restarter->unregisterGroup(this);
}

template <typename ICallback, typename File, typename Details>
void CGroupBase<ICallback, File, Details>::checkIfEmpty(GroupState& state)
{
    const bool disabled = std::any_of(m_files.begin(), m_files.end(), [](const FileEntry& e) { return !e.enabled; });
    state.empty = allEnabledDone() && !hasQueuedEntry() && !disabled;
    if (state.empty)
        FV_LOG_INFO(logText() << "Upload group " << m_groupId << " is empty!");
}

template <typename ICallback, typename File, typename Details>
bool CGroupBase<ICallback, File, Details>::checkLastEventTime()
{
    const Clock::time_point now = m_now();
    if (m_lastEventTimeSet && now - m_lastEventTime < kMinEventInterval)
        return false;
    m_lastEventTime = now;
    m_lastEventTimeSet = true;
    return true;
}

template <typename ICallback, typename File, typename Details>
typename CGroupBase<ICallback, File, Details>::FileEntry&
CGroupBase<ICallback, File, Details>::makeFileEntry(const std::string& fileUid, const Details& details,
                                                    std::uint64_t totalBytes)
{
    FileEntry entry;
    entry.fileUid = fileUid;
    entry.details = details;
    entry.totalBytes = totalBytes;
    m_files.push_back(std::move(entry));
    m_cachedTotal = 0;
    return m_files.back();
}

template <typename ICallback, typename File, typename Details>
typename CGroupBase<ICallback, File, Details>::FileList::iterator
CGroupBase<ICallback, File, Details>::eraseFileEntry(typename FileList::iterator entry)
{
    m_cachedTotal = 0;
    return m_files.erase(entry);
}

template <typename ICallback, typename File, typename Details>
typename CGroupBase<ICallback, File, Details>::FileList::iterator
CGroupBase<ICallback, File, Details>::findFileEntry(const std::string& fileUid)
{
    return std::find_if(m_files.begin(), m_files.end(), [&](const FileEntry& e) { return e.fileUid == fileUid; });
}

template <typename ICallback, typename File, typename Details>
typename CGroupBase<ICallback, File, Details>::FileList::iterator
CGroupBase<ICallback, File, Details>::findActiveFileEntry(const std::string& fileUid)
{
    return std::find_if(m_files.begin(), m_files.end(),
                        [&](const FileEntry& e) { return e.enabled && e.fileUid == fileUid && e.file; });
}

template <typename ICallback, typename File, typename Details>
typename CGroupBase<ICallback, File, Details>::FileList::iterator
CGroupBase<ICallback, File, Details>::findFileEntryByFile(const File* file)
{
    return std::find_if(m_files.begin(), m_files.end(),
                        [&](const FileEntry& e) { return e.file && e.file.get() == file; });
}

template <typename ICallback, typename File, typename Details>
typename CGroupBase<ICallback, File, Details>::FilePtr
CGroupBase<ICallback, File, Details>::getFileByUid(const std::string& fileUid) const
{
    for (const FileEntry& entry : m_files) {
        if (entry.fileUid == fileUid)
            return entry.file;
    }
    return FilePtr();
}

template <typename ICallback, typename File, typename Details>
typename CGroupBase<ICallback, File, Details>::FileList::iterator
CGroupBase<ICallback, File, Details>::findQueuedFileEntry()
{
    return std::find_if(m_files.begin(), m_files.end(),
                        [](const FileEntry& e) { return e.pending && e.state == kFileQueued; });
}

template <typename ICallback, typename File, typename Details>
typename CGroupBase<ICallback, File, Details>::FileList::iterator
CGroupBase<ICallback, File, Details>::findDisabledFileEntry()
{
    return std::find_if(m_files.begin(), m_files.end(), [](const FileEntry& e) { return !e.enabled; });
}

template <typename ICallback, typename File, typename Details>
void CGroupBase<ICallback, File, Details>::collectActiveFiles(std::vector<FilePtr>& files) const
{
    for (const FileEntry& entry : m_files) {
        if (!entry.pending && entry.enabled && entry.file)
            files.push_back(entry.file);
    }
}

template <typename ICallback, typename File, typename Details>
void CGroupBase<ICallback, File, Details>::collectTransferringFiles(std::vector<FilePtr>& files) const
{
    for (const FileEntry& entry : m_files) {
        if (!entry.pending && entry.enabled && entry.file && entry.state == CTransferManagerBase::FILE_TRANSFERRING)
            files.push_back(entry.file);
    }
}

template <typename ICallback, typename File, typename Details>
void CGroupBase<ICallback, File, Details>::collectAllFiles(std::vector<FilePtr>& files) const
{
    for (const FileEntry& entry : m_files) {
        if (entry.file)
            files.push_back(entry.file);
    }
}

template <typename ICallback, typename File, typename Details>
void CGroupBase<ICallback, File, Details>::collectFileDetailsByState(std::vector<Details>& details,
                                                                     std::int32_t state) const
{
    for (const FileEntry& entry : m_files) {
        if (entry.state == state)
            details.push_back(entry.details);
    }
}

} // namespace fv_transfers
