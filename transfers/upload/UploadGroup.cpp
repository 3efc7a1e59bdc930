#include "upload/UploadGroup.h"

#include "core/base/DtError.h"
#include "core/base/ExceptionText.h"
#include "core/base/StringConversion.h"
#include "core/files/FileUrl.h"
#include "core/files/LocalFileInfo.h"
#include "core/log/FvTransfersLogger.h"
#include "db/DbDataLoader.h"
#include "db/DbHolder.h"
#include "framework/FileProgressSender.h"
#include "upload/UploadEngineCallback.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace fv_transfers {

namespace {

std::shared_ptr<CGroupsDbInfo> groupsTableOf(const CUploadGroup::TransferGroupInitParams& params)
{
    return params.groupsTable ? params.groupsTable : CDbHolder::getInstance()->getGroupsDbInfo();
}

CFileProgressSenderHandle progressHandleOf(const CUploadGroup::TransferGroupInitParams& params)
{
    if (params.progressSender)
        return CFileProgressSenderHandle(params.progressSender, params.bucketId, params.bucketToken);
    return CFileProgressSenderHandle(params.bucketId, params.bucketToken);
}

// The files run their preparation on the group's executor unless the environment names one.
UploadFileEnvironment fileEnvironmentOf(const CUploadGroup::TransferGroupInitParams& params)
{
    UploadFileEnvironment environment = params.fileEnvironment;
    if (!environment.executor)
        environment.executor = params.tasksExecutor;
    return environment;
}

// The size of the local file the URL names; false for anything but a readable regular file.
bool readFileSize(const std::wstring& fileUrl, std::uint64_t& size)
{
    const std::optional<std::wstring> path = urlToLocalPath(fileUrl);
    LocalFileInfo info;
    if (!path || !readLocalFileInfo(wideToUtf8(*path), info))
        return false;
    size = info.size;
    return true;
}

// Files whose own listeners may be delivering an event, which takes the group lock: they are
// let go of once it is released.
void releaseAll(const std::vector<std::shared_ptr<IUploadFile>>& files)
{
    for (const std::shared_ptr<IUploadFile>& file : files)
        file->releaseResources();
}

} // namespace

CUploadGroup::CUploadGroup(const TransferGroupInitParams& params)
    : Base(params, params.callback), m_minMultipartSize(params.minMultipartSize), m_engine(params.engineCallback),
      m_verify(params.verify), m_fileEnvironment(fileEnvironmentOf(params)), m_groupsTable(groupsTableOf(params)),
      m_progress(progressHandleOf(params))
{
    m_state.bucketType = params.bucketType;
    m_state.bucketId = params.bucketId;
    m_state.id = params.groupId;
    m_state.errorCode = 0;
    m_state.state = 0;
    m_state.empty = true;
    m_state.paused = false;
    m_state.retryCounter = 0;
    m_state.marked = params.marked;
    if (!params.isNew)
        return;
    CGroupsDbInfo::GroupInfo row;
    row.BucketUid = params.bucketId;
    row.BucketToken = params.bucketToken;
    row.BucketType = params.bucketType;
    row.ExpirationDate = params.tokenExpiration;
    row.GroupId = params.groupId;
    row.Paused = false;
    row.Marked = false;
    row.RetryCount = 0;
    // A group without its row would be lost on restart and its files' rows deleted as orphans.
    if (!m_groupsTable->insert(row))
        throw std::runtime_error("the group's row could not be stored");
}

CUploadGroup::~CUploadGroup()
{
    try {
        std::vector<FilePtr> files;
        {
            std::lock_guard<std::mutex> lock(groupLock());
            collectAllFiles(files);
        }
        // Detached, not cancelled: their uploads and rows stay for the next run.
        releaseAll(files);
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Exception caught in destructor of CUploadGroup: " << exceptionText(e));
    }
}

std::int32_t CUploadGroup::errorCodeOf(int dtError)
{
    return fileErrorCodeOf(dtError);
}

void CUploadGroup::addFiles(const std::vector<UploadFileDesc>& files)
{
    std::lock_guard<std::mutex> lock(groupLock());
    if (isCancelledLocked() || m_state.marked) {
        if (m_state.marked && !isCancelledLocked())
            FV_LOG_WARNING(logText() << "Unable to add files to a group, since it's already marked!");
        // The caller learns of every file it queued: none is dropped without an event.
        for (const UploadFileDesc& desc : files)
            refuseFile(desc, 0);
        return;
    }
    if (m_state.state == 0)
        m_state.state = CTransferManagerBase::GROUP_TRANSFERRING;
    for (const UploadFileDesc& desc : files) {
        try {
            addNewFile(desc);
        } catch (const std::exception& e) {
            FV_LOG_ERROR(logText() << "Error happened when adding file with id " << desc.fileUid << " to group with id "
                                   << Base::getGroupId() << ": " << exceptionText(e));
        }
    }
    checkIfEmpty(m_state);
    notifyGroupStateChanged(true, kReasonGeneral);
    resetLastEventTime();
    if (m_engine)
        m_engine->wakeUp();
}

void CUploadGroup::addNewFile(const UploadFileDesc& desc)
{
    // Also a file still leaving: the two would share one uid's rows.
    if (findFileEntry(desc.fileUid) != m_files.end()) {
        FV_LOG_WARNING(logText() << "Trying to add file with id " << desc.fileUid << " to group " << Base::getGroupId()
                                 << ", but it's already enqueued!");
        refuseFile(desc, 0);
        return;
    }
    std::uint64_t size = 0;
    if (!readFileSize(desc.fileUrl, size)) {
        FV_LOG_ERROR(logText() << "Unable to read the size of file with id " << desc.fileUid);
        refuseFile(desc, errorCodeOf(dt_local_file_error));
        return;
    }
    FileEntry& entry = makeFileEntry(desc.fileUid, desc, size);
    m_tracker.addToTotal(size);
    const int error = recreateFile(entry);
    if (error != dt_success) {
        FV_LOG_ERROR(logText() << "Unable to initialize new file with id " << desc.fileUid << ", error is: " << error);
        markFileErrored(entry, error);
        return;
    }
    if (checkLastEventTime())
        sendFileEvent(fileStateOf(entry, CTransferManagerBase::FILE_PENDING));
}

void CUploadGroup::refuseFile(const UploadFileDesc& desc, std::int32_t errorCode)
{
    CTransferManagerBase::FileState state;
    state.id = Base::getGroupId();
    state.bucketId = getBucketIdRef();
    state.fileId = desc.fileUid;
    state.state = CTransferManagerBase::FILE_ERRORED;
    state.errorCode = errorCode;
    sendFileEvent(state);
}

int CUploadGroup::recreateFile(FileEntry& entry)
{
    // Measured anew: a file re-created after it changed on disk may have another size.
    std::uint64_t size = 0;
    if (!readFileSize(entry.details.fileUrl, size))
        return dt_local_file_error;
    if (size != entry.totalBytes) {
        m_tracker.removeFromTotal(entry.totalBytes);
        m_tracker.addToTotal(size);
        entry.totalBytes = size;
        invalidateTotal();
    }
    const FilePtr file = CUploadFileFactory::create(entry.details, this, m_minMultipartSize, size, m_fileEnvironment);
    if (!file)
        return dt_general_error;
    entry.file = file;
    entry.state = kFileQueued;
    entry.pending = true;
    entry.transferredBytes = 0;
    return dt_success;
}

void CUploadGroup::markFileErrored(FileEntry& entry, int error)
{
    const std::int32_t code = errorCodeOf(error);
    entry.state = CTransferManagerBase::FILE_ERRORED;
    entry.pending = false;
    noteFileError(code);
    CTransferManagerBase::FileState state = fileStateOf(entry, CTransferManagerBase::FILE_ERRORED);
    state.errorCode = code;
    sendFileEvent(state);
}

std::shared_ptr<IUploadFile> CUploadGroup::startFiles()
{
    std::lock_guard<std::mutex> lock(groupLock());
    if (isCancelledLocked() || m_state.paused || m_state.state == CTransferManagerBase::GROUP_ERRORED)
        return nullptr;
    for (FileEntry& entry : m_files) {
        if (!entry.enabled || !entry.pending || entry.reinitPending || entry.restartPending || !entry.file ||
            entry.state != kFileQueued)
            continue;
        const int prepared = entry.file->needsInitialization() ? entry.file->prepareUpload() : dt_success;
        // Still being prepared: it wakes the engine when it is done.
        if (prepared == IUploadFile::kNotReady)
            continue;
        if (prepared == dt_file_status_exception) {
            // The file has asked for its own dequeue; it leaves through the engine, not as an error.
            entry.pending = false;
            continue;
        }
        if (prepared != dt_success) {
            FV_LOG_ERROR(logText() << "Error uploading file with uid " << entry.fileUid);
            markFileErrored(entry, prepared);
            notifyGroupStateChanged(true, CTransferManagerBase::FILE_ERRORED);
            continue;
        }
        std::vector<std::shared_ptr<ITransferChannel>> channels;
        entry.file->getChannels(channels);
        if (channels.empty()) {
            // Every part was sent before a restart: nothing left to transfer.
            completeEntry(entry);
            notifyGroupStateChanged(true, CTransferManagerBase::FILE_COMPLETED);
            continue;
        }
        entry.pending = false;
        entry.state = CTransferManagerBase::FILE_TRANSFERRING;
        m_handedOut.insert(entry.file.get());
        FV_LOG_INFO(logText() << "Staring upload of a file with uid: " << entry.fileUid);
        if (!m_trackerStarted) {
            m_tracker.start(0);
            m_trackerStarted = true;
        }
        return entry.file;
    }
    return nullptr;
}

void CUploadGroup::completeEntry(FileEntry& entry)
{
    FV_LOG_INFO(logText() << "Upload of file with uid " << entry.fileUid << " is complete!");
    entry.state = CTransferManagerBase::FILE_COMPLETED;
    entry.pending = false;
    if (entry.totalBytes > entry.transferredBytes)
        m_tracker.AddData(static_cast<std::int64_t>(entry.totalBytes - entry.transferredBytes));
    entry.transferredBytes = entry.totalBytes;
    m_progress.forgetFile(entry.fileUid);
    sendFileEvent(fileStateOf(entry, CTransferManagerBase::FILE_COMPLETED));
}

void CUploadGroup::removeFile(const std::shared_ptr<IUploadFile>& file)
{
    if (!file)
        return;
    std::unique_lock<std::mutex> lock(groupLock());
    m_handedOut.erase(file.get());
    auto entry = findFileEntryByFile(file.get());
    if (entry != m_files.end() && entry->enabled && entry->restartPending) {
        // Its old channels are gone: it is started again like a queued file.
        entry->restartPending = false;
        entry->state = kFileQueued;
        entry->pending = true;
        if (m_engine)
            m_engine->wakeUp();
        return;
    }
    if (entry == m_files.end() || (entry->enabled && !entry->reinitPending))
        return;
    const bool leaving = !entry->enabled;
    if (leaving)
        FV_LOG_INFO(logText() << "Upload group: removing file with id: " << entry->fileUid);
    else
        FV_LOG_INFO(logText() << "Upload group: re-initializing file with id: " << entry->fileUid);
    // Its listeners' deliveries take the group lock: let go of them outside it. The old rows go
    // before a new file of the same uid stores its own.
    lock.unlock();
    dropFile(file);
    lock.lock();
    entry = findFileEntryByFile(file.get());
    if (entry == m_files.end())
        return;
    if (!entry->enabled) {
        forgetEntry(entry);
        if (!isCancelledLocked()) {
            checkIfEmpty(m_state);
            notifyGroupStateChanged(true, kReasonGeneral);
        } else {
            offerToLeave();
        }
        return;
    }
    recreateEntryFile(*entry);
}

void CUploadGroup::recreateEntryFile(FileEntry& entry)
{
    m_tracker.decreaseBytesTransferred(entry.transferredBytes);
    entry.file.reset();
    entry.reinitPending = false;
    entry.transferredBytes = 0;
    invalidateTotal();
    const int error = recreateFile(entry);
    if (error != dt_success)
        markFileErrored(entry, error);
    else if (m_engine)
        m_engine->wakeUp();
    notifyGroupStateChanged(true, kReasonGeneral);
}

void CUploadGroup::dropFile(const std::shared_ptr<IUploadFile>& file)
{
    file->cancel();
    file->releaseResources();
    if (!file->removeFromDb())
        FV_LOG_ERROR(logText() << "Unable to remove the rows of a removed file");
}

typename CUploadGroup::FileList::iterator CUploadGroup::forgetEntry(typename FileList::iterator entry)
{
    m_tracker.decreaseBytesTransferred(entry->transferredBytes);
    m_tracker.removeFromTotal(entry->totalBytes);
    m_progress.forgetFile(entry->fileUid);
    if (entry->file)
        m_handedOut.erase(entry->file.get());
    return eraseFileEntry(entry);
}

void CUploadGroup::removeFiles(const std::vector<UploadFileDesc>& files)
{
    std::vector<FilePtr> toRelease;
    {
        std::lock_guard<std::mutex> lock(groupLock());
        std::vector<FilePtr> toEngine;
        for (const UploadFileDesc& desc : files) {
            const auto entry = std::find_if(m_files.begin(), m_files.end(), [&](const FileEntry& candidate) {
                return candidate.enabled && candidate.fileUid == desc.fileUid;
            });
            if (entry == m_files.end())
                continue;
            if (entry->file && (m_handedOut.count(entry->file.get()) > 0 || entry->reinitPending)) {
                // The engine holds its channels (or is taking them out already): it leaves in
                // removeFile once they are gone.
                entry->enabled = false;
                entry->file->cancel();
                if (!entry->reinitPending)
                    toEngine.push_back(entry->file);
                continue;
            }
            if (entry->file) {
                entry->file->cancel();
                if (!entry->file->removeFromDb())
                    FV_LOG_ERROR(logText() << "Unable to remove the rows of file with id " << entry->fileUid);
                toRelease.push_back(entry->file);
            }
            forgetEntry(entry);
        }
        if (m_engine && !toEngine.empty())
            m_engine->cancelFiles(toEngine);
        if (!isCancelledLocked()) {
            checkIfEmpty(m_state);
            resetLastEventTime();
            notifyGroupStateChanged(true, kReasonGeneral);
        }
    }
    releaseAll(toRelease);
}

void CUploadGroup::notifyFileState(const std::string& fileUid, std::int64_t delta,
                                   CTransferManagerBase::FileState& state, bool reinitOnError)
{
    std::lock_guard<std::mutex> lock(groupLock());
    if (isCancelledLocked())
        return;
    const auto entry = findActiveFileEntry(fileUid);
    // A completed entry stays so: a late event of its file changes nothing.
    if (entry == m_files.end() || (entry->state == CTransferManagerBase::FILE_COMPLETED && !entry->pending))
        return;
    m_tracker.AddData(delta);
    entry->transferredBytes = state.bytesTransferred;
    state.id = Base::getGroupId();
    state.bucketId = getBucketIdRef();
    state.fileId = fileUid;
    if (state.state == CTransferManagerBase::FILE_TRANSFERRING)
        m_progress.sendProgress(fileUid, state.bytesTransferred);
    const bool passed = checkLastEventTime() || state.state != CTransferManagerBase::FILE_TRANSFERRING;
    if (passed)
        sendFileEvent(state);
    entry->state = state.state;
    if (state.state == CTransferManagerBase::FILE_COMPLETED) {
        FV_LOG_INFO(logText() << "Upload of file with uid " << fileUid << " is complete!");
        entry->pending = false;
        m_progress.forgetFile(fileUid);
    } else if (state.state == CTransferManagerBase::FILE_ERRORED) {
        FV_LOG_ERROR(logText() << "Error uploading file with uid " << fileUid);
        noteFileError(state.errorCode);
        entry->pending = false;
        if (reinitOnError && !entry->reinitPending) {
            // Re-created once the engine has let go of its channels (removeFile); never waited for.
            entry->reinitPending = true;
            if (m_engine)
                m_engine->cancelFiles({entry->file});
        }
    }
    notifyGroupStateChanged(passed, state.state);
}

void CUploadGroup::restartFile(const std::string& fileUid)
{
    std::lock_guard<std::mutex> lock(groupLock());
    if (isCancelledLocked())
        return;
    const auto entry = findActiveFileEntry(fileUid);
    if (entry == m_files.end() || entry->reinitPending || entry->restartPending)
        return;
    FV_LOG_INFO(logText() << "Upload of file with uid " << fileUid << " starts again with its new part URLs");
    // What its old channels sent went to the upload that was given up.
    m_tracker.decreaseBytesTransferred(entry->transferredBytes);
    entry->transferredBytes = 0;
    // Started again in removeFile, once the engine has stopped every old channel: a file started
    // before would have its new channels stopped by the cancel still queued.
    entry->restartPending = true;
    if (m_engine)
        m_engine->cancelFiles({entry->file});
}

void CUploadGroup::markQueue()
{
    std::lock_guard<std::mutex> lock(groupLock());
    if (isCancelledLocked())
        return;
    if (!m_state.marked) {
        m_state.marked = true;
        if (!m_groupsTable->updateMarked(Base::getGroupId(), true))
            FV_LOG_ERROR(logText() << "Unable to store the marked state of the group");
    }
    checkIfEmpty(m_state);
    notifyGroupStateChanged(true, kReasonGeneral);
}

void CUploadGroup::unmarkQueue()
{
    std::lock_guard<std::mutex> lock(groupLock());
    // A completed group has ended: nothing may be added to it any more.
    if (isCancelledLocked() || !m_state.marked || m_state.state == CTransferManagerBase::GROUP_COMPLETED)
        return;
    m_state.marked = false;
    if (!m_groupsTable->updateMarked(Base::getGroupId(), false))
        FV_LOG_ERROR(logText() << "Unable to store the marked state of the group");
    notifyGroupStateChanged(true, kReasonGeneral);
}

bool CUploadGroup::isQueueMarked()
{
    std::lock_guard<std::mutex> lock(groupLock());
    return m_state.marked;
}

bool CUploadGroup::isFinished()
{
    std::lock_guard<std::mutex> lock(groupLock());
    return isFinishedLocked();
}

bool CUploadGroup::isFinishedLocked() const
{
    if (isCancelledLocked())
        return m_files.empty();
    return m_state.marked && m_state.state == CTransferManagerBase::GROUP_COMPLETED;
}

void CUploadGroup::offerToLeave()
{
    if (m_leaveOffered || !m_engine || !isFinishedLocked())
        return;
    // Called with the group lock held: the engine thread removes it from the manager later.
    if (auto self = std::dynamic_pointer_cast<CUploadGroup>(weak_from_this().lock())) {
        m_leaveOffered = true;
        m_engine->markGroup(self);
    }
}

void CUploadGroup::resumeFiles()
{
    std::vector<FilePtr> toResume;
    for (const FileEntry& entry : m_files) {
        const bool stopped =
            entry.state == CTransferManagerBase::FILE_TRANSFERRING || entry.state == CTransferManagerBase::FILE_PAUSED;
        if (entry.enabled && entry.file && stopped && m_handedOut.count(entry.file.get()) > 0)
            toResume.push_back(entry.file);
    }
    resetErroredEntries(toResume);
    if (m_engine) {
        if (!toResume.empty())
            m_engine->resumeFiles(toResume);
        m_engine->wakeUp();
    }
    resetLastEventTime();
    notifyGroupStateChanged(true, kReasonGeneral);
}

void CUploadGroup::resetErroredEntries(std::vector<FilePtr>& toResume)
{
    for (FileEntry& entry : m_files) {
        // A file being re-created is queued by removeFile: nothing here waits for the engine.
        if (!entry.enabled || entry.reinitPending || entry.state != CTransferManagerBase::FILE_ERRORED)
            continue;
        if (!entry.file) {
            const int error = recreateFile(entry);
            if (error != dt_success)
                FV_LOG_ERROR(logText() << "Unable to initialize new file, error is: " << error);
            continue;
        }
        FV_LOG_INFO(logText() << "Resetting error state of a file");
        entry.file->resetErroredFlag();
        if (m_handedOut.count(entry.file.get()) > 0) {
            entry.state = CTransferManagerBase::FILE_TRANSFERRING;
            toResume.push_back(entry.file);
        } else {
            entry.state = kFileQueued;
            entry.pending = true;
        }
    }
}

void CUploadGroup::pauseFiles()
{
    std::vector<FilePtr> files;
    for (const FileEntry& entry : m_files) {
        if (entry.enabled && entry.file && m_handedOut.count(entry.file.get()) > 0)
            files.push_back(entry.file);
    }
    if (m_engine && !files.empty())
        m_engine->pauseFiles(files);
}

void CUploadGroup::cancelFiles()
{
    FV_LOG_INFO(logText() << "Cancelling upload group");
    std::vector<FilePtr> toEngine;
    for (auto entry = m_files.begin(); entry != m_files.end();) {
        entry->enabled = false;
        if (!entry->file) {
            entry = forgetEntry(entry);
            continue;
        }
        entry->file->cancel();
        if (!entry->file->removeFromDb())
            FV_LOG_ERROR(logText() << "Unable to remove the rows of file with id " << entry->fileUid);
        // Every file goes through the engine: its channels stop there, and removeFile lets go
        // of it without the group lock that is held here.
        if (!entry->reinitPending)
            toEngine.push_back(entry->file);
        ++entry;
    }
    if (m_engine && !toEngine.empty())
        m_engine->cancelFiles(toEngine);
    if (!m_groupsTable->removeByGroupId(Base::getGroupId()))
        FV_LOG_ERROR(logText() << "Unable to remove the rows of a cancelled group");
}

ITransferEngineCallback* CUploadGroup::getEngineCallback() const
{
    return m_engine;
}

void CUploadGroup::setState(std::int32_t stateCode, std::int32_t value)
{
    applyState(m_state, *m_groupsTable, stateCode, value);
    if (CUploadManager::ICallback* callback = getCallback())
        callback->onGroupStateChanged(m_state);
}

bool CUploadGroup::notifyGroupStateChanged(bool force, std::int32_t reason)
{
    const bool report = fillGroupState(m_state, force, reason);
    if (report) {
        if (CUploadManager::ICallback* callback = getCallback())
            callback->onGroupStateChanged(m_state);
    }
    offerToLeave();
    return report;
}

void CUploadGroup::saveRetryCounter()
{
    if (!m_groupsTable->updateRetryCount(Base::getGroupId(), getRetryCounter()))
        FV_LOG_ERROR(logText() << "Unable to store the retry counter of the group");
}

void CUploadGroup::removeFromDb()
{
    for (const FileEntry& entry : m_files) {
        m_progress.forgetFile(entry.fileUid);
        if (entry.file && !entry.file->removeFromDb())
            FV_LOG_ERROR(logText() << "Unable to remove the rows of file with id " << entry.fileUid);
    }
    if (!m_groupsTable->removeByGroupId(Base::getGroupId()))
        FV_LOG_ERROR(logText() << "Unable to remove the rows of the group");
}

bool CUploadGroup::isPaused()
{
    std::lock_guard<std::mutex> lock(groupLock());
    return m_state.paused;
}

void CUploadGroup::restoreFilesFromDb()
{
    const std::int32_t groupId = Base::getGroupId();
    struct Restored {
        const CFilesDbInfo::FileInfo* row;
        FilePtr file;
    };
    const CDbDataLoader& loader = CDbDataLoader::getInstance();
    // Built without the group lock: a restored file listens to its channels and the disk, whose
    // deliveries take the group lock.
    std::vector<Restored> restored;
    std::vector<CChannelsDbInfo::ChannelInfo> channels;
    for (const CFilesDbInfo::FileInfo& row : loader.uploadFiles()) {
        if (row.ParentGroupId != groupId)
            continue;
        CDbDataLoader::getUploadChannelsOfFile(row.FileUid, channels, loader.uploadChannels());
        Restored item{&row, nullptr};
        try {
            item.file = CUploadFileFactory::createFromDb(row, channels, this, m_minMultipartSize, m_fileEnvironment);
        } catch (const std::exception& e) {
            FV_LOG_ERROR(logText() << exceptionText(e));
        }
        restored.push_back(std::move(item));
    }
    std::vector<FilePtr> unused;
    {
        std::lock_guard<std::mutex> lock(groupLock());
        FV_LOG_INFO(logText() << "Exctracted " << restored.size() << " upload files from DB for group with id "
                              << groupId);
        for (Restored& item : restored)
            addRestoredEntry(*item.row, item.file, unused);
        checkIfEmpty(m_state);
        if (!m_files.empty() && m_state.state == 0)
            m_state.state = CTransferManagerBase::GROUP_TRANSFERRING;
    }
    releaseAll(unused);
}

void CUploadGroup::addRestoredEntry(const CFilesDbInfo::FileInfo& row, const FilePtr& file,
                                    std::vector<FilePtr>& unused)
{
    if (findFileEntry(row.FileUid) != m_files.end()) {
        if (file)
            unused.push_back(file);
        return;
    }
    const UploadFileDesc desc{row.FileUid, row.FileLocalUri};
    std::uint64_t size = file ? file->getTotalSize() : 0;
    if (!file && row.FileSize != CFilesDbInfo::kUnknownFileSize)
        size = static_cast<std::uint64_t>(row.FileSize);
    FileEntry& entry = makeFileEntry(row.FileUid, desc, size);
    m_tracker.addToTotal(size);
    if (!file) {
        // Made anew from its URL when the group is resumed.
        FV_LOG_ERROR(logText() << "Unable to create instnce of a class for file with id " << row.FileUid);
        entry.state = CTransferManagerBase::FILE_ERRORED;
        entry.pending = false;
        noteFileError(0);
        return;
    }
    entry.file = file;
    CTransferManagerBase::FileState progress;
    file->getFileState(progress);
    if (row.Completed || progress.state == CTransferManagerBase::FILE_COMPLETED) {
        entry.state = CTransferManagerBase::FILE_COMPLETED;
        entry.pending = false;
        entry.transferredBytes = size;
    } else {
        entry.transferredBytes = std::min<std::uint64_t>(progress.bytesTransferred, size);
    }
    m_tracker.AddData(static_cast<std::int64_t>(entry.transferredBytes));
}

void CUploadGroup::getGroupState(CUploadManager::GroupState& state)
{
    std::lock_guard<std::mutex> lock(groupLock());
    notifyGroupStateChanged(false, kReasonGeneral);
    CUploadManager::GroupState copy = m_state;
    if (copy.empty) {
        copy.bytesTransferredPerSecond = 0;
        copy.estimatedEta = 0;
    }
    state = copy;
}

void CUploadGroup::collectFiles(std::vector<std::shared_ptr<IUploadFile>>& files)
{
    std::lock_guard<std::mutex> lock(groupLock());
    collectAllFiles(files);
}

std::shared_ptr<IUploadFile> CUploadGroup::findFile(const std::string& fileUid)
{
    std::lock_guard<std::mutex> lock(groupLock());
    return getFileByUid(fileUid);
}

} // namespace fv_transfers
