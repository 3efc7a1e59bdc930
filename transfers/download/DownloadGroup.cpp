#include "download/DownloadGroup.h"

#include "core/base/DtError.h"
#include "core/base/ExceptionText.h"
#include "core/base/StringConversion.h"
#include "core/log/FvTransfersLogger.h"
#include "db/DbDataLoader.h"
#include "db/DbHolder.h"
#include "download/BookmarkTargets.h"
#include "download/DownloadEngineCallback.h"
#include "download/FileUidRegistry.h"

#include <algorithm>
#include <stdexcept>

namespace fv_transfers {

namespace {

std::shared_ptr<CDbDownloadGroupInfoAggregator> groupsTableOf(const CDownloadGroup::TransferGroupInitParams& params)
{
    return params.groupsTable ? params.groupsTable : CDbHolder::getInstance()->getDownloadGroupInfoAggregator();
}

} // namespace

CDownloadGroup::CDownloadGroup(const TransferGroupInitParams& params)
    : Base(params, params.callback), m_minMultipartSize(params.minMultipartSize),
      m_givenDownloadPath(params.downloadPath), m_engine(params.engineCallback), m_groupInfo(params.groupInfo),
      m_fileUids(params.fileUids), m_fileEnvironment(params.fileEnvironment), m_groupsTable(groupsTableOf(params))
{
    // Without an existing local folder the files would be placed under "/".
    if (!resolveBookmarkUri(params.downloadPath, m_downloadPath))
        throw std::invalid_argument("the download destination is not an existing local folder: " +
                                    wideToUtf8(params.downloadPath));
    m_state.bucketType = params.bucketType;
    m_state.bucketId = params.bucketId;
    m_state.id = params.groupId;
    m_state.errorCode = 0;
    m_state.state = 0;
    m_state.empty = true;
    m_state.paused = false;
    m_state.retryCounter = 0;
    m_state.groupInfo = m_groupInfo;
    m_state.downloadPath = m_downloadPath;
    if (!params.isNew)
        return;
    CDbDownloadGroupInfoAggregator::GroupInfo row;
    row.BucketUid = params.bucketId;
    row.BucketToken = params.bucketToken;
    row.BucketType = params.bucketType;
    row.ExpirationDate = params.tokenExpiration;
    row.GroupId = params.groupId;
    row.Paused = false;
    row.DownloadPath = m_givenDownloadPath;
    row.RetryCount = 0;
    row.params = m_groupInfo;
    // A group without its row would be lost on restart and could delete another group's rows.
    if (!m_groupsTable->insert(row))
        throw std::runtime_error("the group's row could not be stored");
}

CDownloadGroup::~CDownloadGroup()
{
    try {
        std::vector<FilePtr> files;
        {
            std::lock_guard<std::mutex> lock(groupLock());
            collectAllFiles(files);
        }
        // Detached, not cancelled: their temporary files and rows stay for the next run.
        for (const FilePtr& file : files)
            file->release();
        if (m_fileUids)
            m_fileUids->releaseGroup(Base::getGroupId());
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Exception caught in destructor of CDownloadGroup: " << exceptionText(e));
    }
}

std::int32_t CDownloadGroup::errorKindOf(int error)
{
    return fileErrorCodeOf(error);
}

std::shared_ptr<CDownloadFile> CDownloadGroup::makeFile() const
{
    return std::make_shared<CDownloadFile>(getTasksExecutor(), m_minMultipartSize, nullptr, m_fileEnvironment);
}

void CDownloadGroup::addFiles(const std::vector<FileDownloadDetails>& files)
{
    std::lock_guard<std::mutex> lock(groupLock());
    if (isCancelledLocked())
        return;
    if (m_state.state == 0)
        m_state.state = CTransferManagerBase::GROUP_TRANSFERRING;
    for (const FileDownloadDetails& details : files) {
        try {
            addNewFile(details);
        } catch (const std::exception& e) {
            FV_LOG_ERROR(logText() << "Error happened when adding file with id " << details.id << " to group with id "
                                   << Base::getGroupId() << ": " << exceptionText(e));
        }
    }
    checkIfEmpty(m_state);
    notifyGroupStateChanged(true, kReasonGeneral);
    resetLastEventTime();
}

void CDownloadGroup::addNewFile(const FileDownloadDetails& details)
{
    const auto existing = std::find_if(m_files.begin(), m_files.end(), [&](const FileEntry& entry) {
        return entry.enabled && entry.fileUid == details.id;
    });
    if (existing != m_files.end()) {
        FV_LOG_WARNING(logText() << "Trying to add file with id " << details.id << " to group " << Base::getGroupId()
                                 << ", but it's already enqueued!");
        return;
    }
    FileEntry& entry = makeFileEntry(details.id, details, details.size);
    m_tracker.addToTotal(details.size);
    int error = dt_success;
    if (m_fileUids && !m_fileUids->claim(details.id, Base::getGroupId())) {
        FV_LOG_ERROR(logText() << "File with id " << details.id << " is already downloaded by group "
                               << m_fileUids->holderOf(details.id));
        error = dt_busy;
    } else {
        error = recreateFile(entry);
    }
    if (error != dt_success) {
        FV_LOG_ERROR(logText() << "Error happened when adding file with id " << details.id << " to group with id "
                               << Base::getGroupId());
        FV_LOG_ERROR(logText() << "Unable to initialize new file, error is: " << error);
        markFileErrored(entry, error);
        return;
    }
    checkIfEmpty(m_state);
    if (checkLastEventTime())
        sendFileEvent(fileStateOf(entry, CTransferManagerBase::FILE_PENDING));
}

int CDownloadGroup::recreateFile(FileEntry& entry)
{
    std::string finalPath;
    if (!CDownloadFile::finalPathFor(m_downloadPath, entry.details.path, finalPath)) {
        FV_LOG_ERROR(logText() << "Unable to place the file with id " << entry.fileUid << " under the download folder");
        return dt_local_file_error;
    }
    // Two files of one group would share one final file; the second is refused.
    if (finalPathTaken(finalPath, &entry)) {
        FV_LOG_ERROR(logText() << "File with id " << entry.fileUid << " has the same download path as another file "
                               << "of the group: " << finalPath);
        return dt_local_file_error;
    }
    const FilePtr file = makeFile();
    const int error = file->initialize(m_downloadPath, entry.details, this);
    if (error != dt_success) {
        file->cancel();
        file->release();
        return error;
    }
    entry.file = file;
    entry.state = kFileQueued;
    entry.pending = true;
    entry.transferredBytes = 0;
    return dt_success;
}

bool CDownloadGroup::finalPathTaken(const std::string& finalPath, const FileEntry* except)
{
    return std::any_of(m_files.begin(), m_files.end(), [&](const FileEntry& entry) {
        return &entry != except && entry.enabled && entry.file && entry.file->getFinalPath() == finalPath;
    });
}

void CDownloadGroup::markFileErrored(FileEntry& entry, int error)
{
    const std::int32_t kind = errorKindOf(error);
    entry.state = CTransferManagerBase::FILE_ERRORED;
    entry.pending = false;
    noteFileError(kind);
    CTransferManagerBase::FileState state = fileStateOf(entry, CTransferManagerBase::FILE_ERRORED);
    state.bytesTransferred = 0;
    state.percentTransferred = 0;
    state.errorCode = kind;
    sendFileEvent(state);
}

void CDownloadGroup::markFileCompleted(FileEntry& entry)
{
    FV_LOG_INFO(logText() << "Download of file with uid " << entry.fileUid << " is complete!");
    entry.state = CTransferManagerBase::FILE_COMPLETED;
    entry.pending = false;
    if (entry.totalBytes > entry.transferredBytes)
        m_tracker.AddData(static_cast<std::int64_t>(entry.totalBytes - entry.transferredBytes));
    entry.transferredBytes = entry.totalBytes;
    sendFileEvent(fileStateOf(entry, CTransferManagerBase::FILE_COMPLETED));
}

std::shared_ptr<CDownloadFile> CDownloadGroup::getNextFile()
{
    std::lock_guard<std::mutex> lock(groupLock());
    if (isCancelledLocked() || m_state.paused || m_state.state == CTransferManagerBase::GROUP_ERRORED ||
        m_files.empty())
        return nullptr;
    for (FileEntry& entry : m_files) {
        if (!entry.enabled || !entry.pending || entry.reinitPending || !entry.file)
            continue;
        const int prepared = entry.file->prepareForTransfer();
        // Still being prepared: its task wakes the engine when it is done.
        if (prepared == CDownloadFile::kNotReady)
            continue;
        if (prepared == CDownloadFile::kUpToDate) {
            markFileCompleted(entry);
            notifyGroupStateChanged(true, CTransferManagerBase::FILE_COMPLETED);
            continue;
        }
        if (prepared != dt_success) {
            FV_LOG_ERROR(logText() << "Error downloading file with uid " << entry.fileUid);
            markFileErrored(entry, prepared);
            notifyGroupStateChanged(true, CTransferManagerBase::FILE_ERRORED);
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

void CDownloadGroup::removeFile(const std::shared_ptr<CDownloadFile>& file)
{
    if (!file)
        return;
    std::unique_lock<std::mutex> lock(groupLock());
    m_handedOut.erase(file.get());
    auto entry = findFileEntryByFile(file.get());
    if (entry == m_files.end() || (entry->enabled && !entry->reinitPending))
        return;
    if (!entry->enabled)
        FV_LOG_INFO(logText() << "Download group: removing file with id: " << entry->fileUid);
    else
        FV_LOG_INFO(logText() << "Download group: re-initializing file with id: " << entry->fileUid);
    // Its channel events take the file's delegates and then the group lock: let go of them
    // outside it. The rows go before the uid is released or stored again.
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
        }
        return;
    }
    recreateEntryFile(*entry);
}

void CDownloadGroup::recreateEntryFile(FileEntry& entry)
{
    m_tracker.decreaseBytesTransferred(entry.transferredBytes);
    entry.file.reset();
    entry.reinitPending = false;
    entry.transferredBytes = 0;
    invalidateTotal();
    const bool resumed = m_recreateOnRemoval.erase(entry.fileUid) > 0;
    const int error = recreateFile(entry);
    if (error != dt_success) {
        markFileErrored(entry, error);
    } else if (!resumed) {
        // It stays errored until the group is resumed (by the restarter or the user).
        entry.state = CTransferManagerBase::FILE_ERRORED;
        entry.pending = false;
    } else if (m_engine) {
        m_engine->wakeUp();
    }
    notifyGroupStateChanged(true, kReasonGeneral);
}

void CDownloadGroup::dropFile(const std::shared_ptr<CDownloadFile>& file)
{
    file->cancel();
    file->release();
    if (!file->removeFromDb())
        FV_LOG_ERROR(logText() << "Unable to remove the rows of a removed file");
}

typename CDownloadGroup::FileList::iterator CDownloadGroup::forgetEntry(typename FileList::iterator entry)
{
    const std::string fileUid = entry->fileUid;
    m_tracker.decreaseBytesTransferred(entry->transferredBytes);
    m_tracker.removeFromTotal(entry->totalBytes);
    m_recreateOnRemoval.erase(fileUid);
    const auto next = eraseFileEntry(entry);
    if (m_fileUids && findFileEntry(fileUid) == m_files.end())
        m_fileUids->release(fileUid, Base::getGroupId());
    return next;
}

void CDownloadGroup::removeFiles(const std::vector<std::string>& fileUids)
{
    std::lock_guard<std::mutex> lock(groupLock());
    std::vector<FilePtr> toEngine;
    for (const std::string& fileUid : fileUids) {
        const auto entry = std::find_if(m_files.begin(), m_files.end(), [&](const FileEntry& candidate) {
            return candidate.enabled && candidate.fileUid == fileUid;
        });
        if (entry == m_files.end())
            continue;
        if (entry->file && m_handedOut.count(entry->file.get()) > 0) {
            // The engine holds its channels: it leaves when removeFile says they are gone.
            entry->enabled = false;
            entry->file->cancel();
            toEngine.push_back(entry->file);
            continue;
        }
        if (entry->file)
            dropFile(entry->file);
        forgetEntry(entry);
    }
    if (m_engine && !toEngine.empty())
        m_engine->cancelFiles(toEngine);
    checkIfEmpty(m_state);
    resetLastEventTime();
    notifyGroupStateChanged(true, kReasonGeneral);
}

void CDownloadGroup::notifyFileStateChanged(const FileDownloadDetails& details, std::int64_t delta,
                                            const CTransferManagerBase::FileState& snapshot, bool discard)
{
    std::lock_guard<std::mutex> lock(groupLock());
    if (isCancelledLocked())
        return;
    const auto entry = findActiveFileEntry(details.id);
    if (entry == m_files.end())
        return;
    m_tracker.AddData(delta);
    entry->transferredBytes = snapshot.bytesTransferred;
    CTransferManagerBase::FileState event = snapshot;
    event.id = Base::getGroupId();
    event.bucketId = getBucketIdRef();
    const bool passed = checkLastEventTime() || snapshot.state != CTransferManagerBase::FILE_TRANSFERRING;
    if (passed)
        sendFileEvent(event);
    entry->state = snapshot.state;
    if (snapshot.state == CTransferManagerBase::FILE_COMPLETED) {
        FV_LOG_INFO(logText() << "Download of file with uid " << details.id << " is complete!");
        entry->pending = false;
    } else if (snapshot.state == CTransferManagerBase::FILE_ERRORED) {
        FV_LOG_ERROR(logText() << "Error downloading file with uid " << details.id);
        noteFileError(snapshot.errorCode);
        entry->pending = false;
        if (discard) {
            // Re-created once the engine has let go of its channels (removeFile); never waited for.
            entry->reinitPending = true;
            if (m_engine)
                m_engine->cancelFiles({entry->file});
        }
    }
    notifyGroupStateChanged(passed, snapshot.state);
}

void CDownloadGroup::resumeFiles()
{
    const bool errored = std::any_of(m_files.begin(), m_files.end(), [](const FileEntry& entry) {
        return entry.enabled && entry.state == CTransferManagerBase::FILE_ERRORED;
    });
    if (errored)
        FV_LOG_INFO(logText() << "Download group: resuming errored group.");
    std::vector<FilePtr> toResume;
    for (const FileEntry& entry : m_files) {
        if (entry.enabled && entry.file && entry.state == CTransferManagerBase::FILE_TRANSFERRING &&
            m_handedOut.count(entry.file.get()) > 0)
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

void CDownloadGroup::resetErroredEntries(std::vector<FilePtr>& toResume)
{
    for (FileEntry& entry : m_files) {
        if (!entry.enabled || entry.state != CTransferManagerBase::FILE_ERRORED)
            continue;
        if (entry.reinitPending) {
            m_recreateOnRemoval.insert(entry.fileUid);
            continue;
        }
        if (!entry.file) {
            if (m_fileUids && !m_fileUids->claim(entry.fileUid, Base::getGroupId()))
                continue;
            const int error = recreateFile(entry);
            if (error != dt_success)
                FV_LOG_ERROR(logText() << "Unable to initialize new file, error is: " << error);
            continue;
        }
        FV_LOG_INFO(logText() << "Resetting error state of a file");
        entry.file->resume();
        if (m_handedOut.count(entry.file.get()) > 0) {
            entry.state = CTransferManagerBase::FILE_TRANSFERRING;
            toResume.push_back(entry.file);
        } else {
            FV_LOG_INFO(logText() << "File with id " << entry.fileUid
                                  << " has not yet been added to download engine, setting its state to pending");
            entry.state = kFileQueued;
            entry.pending = true;
        }
    }
}

void CDownloadGroup::pauseFiles()
{
    std::vector<FilePtr> files;
    for (const FileEntry& entry : m_files) {
        if (entry.enabled && !entry.pending && entry.file && m_handedOut.count(entry.file.get()) > 0)
            files.push_back(entry.file);
    }
    if (m_engine && !files.empty())
        m_engine->pauseFiles(files);
}

void CDownloadGroup::cancelFiles()
{
    FV_LOG_INFO(logText() << "Cancelling download group");
    std::vector<FilePtr> toEngine;
    for (auto entry = m_files.begin(); entry != m_files.end();) {
        entry->enabled = false;
        if (entry->file && m_engine && m_handedOut.count(entry->file.get()) > 0) {
            // Its temporary file and rows go once the engine has stopped its channels.
            entry->file->cancel();
            toEngine.push_back(entry->file);
            ++entry;
            continue;
        }
        if (entry->file)
            dropFile(entry->file);
        entry = forgetEntry(entry);
    }
    if (!toEngine.empty())
        m_engine->cancelFiles(toEngine);
    if (!m_groupsTable->removeByGroupId(Base::getGroupId()))
        FV_LOG_ERROR(logText() << "Unable to remove the rows of a cancelled group");
}

ITransferEngineCallback* CDownloadGroup::getEngineCallback() const
{
    return m_engine;
}

void CDownloadGroup::setState(std::int32_t stateCode, std::int32_t value)
{
    applyState(m_state, *m_groupsTable, stateCode, value);
    m_state.downloadPath = m_downloadPath;
    if (CDownloadManager::ICallback* callback = getCallback())
        callback->onGroupStateChanged(m_state);
}

bool CDownloadGroup::notifyGroupStateChanged(bool force, std::int32_t reason)
{
    m_state.downloadPath = m_downloadPath;
    m_state.groupInfo = m_groupInfo;
    const bool report = fillGroupState(m_state, force, reason);
    if (report) {
        if (CDownloadManager::ICallback* callback = getCallback())
            callback->onGroupStateChanged(m_state);
    }
    return report;
}

void CDownloadGroup::saveRetryCounter()
{
    if (!m_groupsTable->updateRetryCount(Base::getGroupId(), getRetryCounter()))
        FV_LOG_ERROR(logText() << "Unable to store the retry counter of the group");
}

void CDownloadGroup::removeFromDb()
{
    for (const FileEntry& entry : m_files) {
        if (entry.file && !entry.file->removeFromDb())
            FV_LOG_ERROR(logText() << "Unable to remove the rows of file with id " << entry.fileUid);
    }
    if (!m_groupsTable->removeByGroupId(Base::getGroupId()))
        FV_LOG_ERROR(logText() << "Unable to remove the rows of the group");
    if (m_fileUids)
        m_fileUids->releaseGroup(Base::getGroupId());
}

bool CDownloadGroup::isPaused()
{
    std::lock_guard<std::mutex> lock(groupLock());
    return m_state.paused;
}

void CDownloadGroup::restoreFilesFromDb()
{
    const std::int32_t groupId = Base::getGroupId();
    struct Restored {
        const CDownloadFilesDbInfo::FileInfo* row;
        FilePtr file;
        int error;
    };
    const std::vector<CDownloadFilesDbInfo::FileInfo>& snapshot = CDbDataLoader::getInstance().downloadFiles();
    // Built without the group lock: a restored file subscribes to its channels' events, whose
    // deliveries take the group lock.
    std::vector<Restored> restored;
    for (const CDownloadFilesDbInfo::FileInfo& row : snapshot) {
        if (row.ParentGroupId != groupId)
            continue;
        Restored item{&row, makeFile(), dt_general_error};
        try {
            item.error = item.file->restoreFromDb(m_downloadPath, row, this);
        } catch (const std::exception& e) {
            FV_LOG_ERROR(logText() << exceptionText(e));
        }
        restored.push_back(std::move(item));
    }
    std::vector<FilePtr> unused;
    {
        std::lock_guard<std::mutex> lock(groupLock());
        FV_LOG_INFO(logText() << "Exctracted " << restored.size() << " download files from DB for group with id "
                              << groupId);
        for (Restored& item : restored) {
            const FileDownloadDetails& details = item.row->details;
            if (findFileEntry(details.id) != m_files.end()) {
                unused.push_back(item.file);
                continue;
            }
            if (m_fileUids)
                m_fileUids->claim(details.id, groupId);
            FileEntry& entry = makeFileEntry(details.id, details, details.size);
            m_tracker.addToTotal(details.size);
            if (item.error != dt_success) {
                FV_LOG_ERROR(logText() << "Unable to create instnce of a class for file with id " << details.id);
                unused.push_back(item.file);
                entry.state = CTransferManagerBase::FILE_ERRORED;
                entry.pending = false;
                noteFileError(errorKindOf(item.error));
                continue;
            }
            CTransferManagerBase::FileState progress;
            item.file->fillProgress(progress);
            entry.file = item.file;
            entry.transferredBytes = progress.bytesTransferred;
            m_tracker.AddData(static_cast<std::int64_t>(progress.bytesTransferred));
        }
        checkIfEmpty(m_state);
        if (!m_state.empty && m_state.state == 0)
            m_state.state = CTransferManagerBase::GROUP_TRANSFERRING;
    }
    for (const FilePtr& file : unused)
        file->release();
}

void CDownloadGroup::getGroupState(CDownloadManager::GroupState& state)
{
    std::lock_guard<std::mutex> lock(groupLock());
    CDownloadManager::GroupState copy = m_state;
    // A file's own state as the reason decides nothing: only the figures are filled.
    fillGroupState(copy, false, CTransferManagerBase::FILE_TRANSFERRING);
    copy.downloadPath = m_downloadPath;
    copy.groupInfo = m_groupInfo;
    if (copy.empty) {
        copy.bytesTransferredPerSecond = 0;
        copy.estimatedEta = 0;
    }
    state = copy;
}

} // namespace fv_transfers
