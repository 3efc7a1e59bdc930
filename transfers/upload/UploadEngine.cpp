#include "upload/UploadEngine.h"

#include "core/log/FvTransfersLogger.h"
#include "framework/TransferBufferManagerFactory.h"
#include "upload/UploadFile.h"
#include "upload/UploadGroup.h"

#include <algorithm>
#include <utility>

namespace fv_transfers {

namespace {

CTransferEngineBase::EngineNames uploadEngineNames()
{
    return {"fv-ul-engine", "upload engine", "Upload engine", "Initializing upload engine.",
            "Uninitializing upload engine."};
}

std::shared_ptr<CUploadGroup> uploadGroupOf(CGroupManagerBase& manager, std::int32_t groupId)
{
    return std::dynamic_pointer_cast<CUploadGroup>(manager.findGroupById(groupId));
}

} // namespace

CUploadEngine::CUploadEngine(CGroupManagerBase& groupManager, const Limits& limits,
                             std::shared_ptr<ITransferBufferManager> bufferManager)
    : CTransferEngineBase(groupManager, uploadEngineNames(), limits,
                          bufferManager ? std::move(bufferManager) : createTransferBufferManager(0))
{
}

CUploadEngine::~CUploadEngine()
{
    // The thread calls this engine's hooks: it ends before they do.
    uninit();
}

void CUploadEngine::cancelFiles(const IUploadEngineCallback::FileList& files)
{
    postFiles(engineCancelFiles, files);
}

void CUploadEngine::pauseFiles(const IUploadEngineCallback::FileList& files)
{
    postFiles(enginePauseFiles, files);
}

void CUploadEngine::resumeFiles(const IUploadEngineCallback::FileList& files)
{
    postFiles(engineResumeFiles, files);
}

void CUploadEngine::scheduleFileDequeue(std::int32_t groupId, const UploadFileDesc& file)
{
    postCommand(engineDequeueFile, FileDequeuInfo{groupId, file});
}

void CUploadEngine::addFileChannels(const std::shared_ptr<IUploadFile>& file)
{
    postCommand(engineAddFileChannels, file);
}

void CUploadEngine::markGroup(const std::shared_ptr<CUploadGroup>& group)
{
    postCommand(engineMarkGroup, group);
}

void CUploadEngine::wakeUp()
{
    wake();
}

std::shared_ptr<ITransferBufferManager> CUploadEngine::getBufferManager()
{
    return bufferPool();
}

CTransferEngineBase::FilePtr CUploadEngine::getGroupFile(const GroupPtr& group)
{
    auto uploadGroup = std::dynamic_pointer_cast<CUploadGroup>(group);
    if (!uploadGroup)
        return nullptr;
    return uploadGroup->startFiles();
}

bool CUploadEngine::handleCommand(int code, const Poco::Any& payload)
{
    const bool end = dispatchCommand(code, payload);
    releaseLeftGroups();
    return end;
}

bool CUploadEngine::dispatchCommand(int code, const Poco::Any& payload)
{
    switch (code) {
    case engineAddFileChannels: {
        const auto* file = Poco::AnyCast<std::shared_ptr<IUploadFile>>(&payload);
        if (file && *file)
            parkFileChannels(**file);
        return false;
    }
    case engineMarkGroup: {
        if (const auto* group = Poco::AnyCast<std::shared_ptr<CUploadGroup>>(&payload))
            handleMarkGroup(*group);
        return false;
    }
    case engineDequeueFile: {
        if (const auto* info = Poco::AnyCast<FileDequeuInfo>(&payload))
            handleFileDequeue(*info);
        return false;
    }
    case engineCancelFiles: {
        const bool leave = CTransferEngineBase::handleCommand(code, payload);
        if (const auto* files = Poco::AnyCast<CTransferEngineBase::FileList>(&payload))
            returnCancelledFiles(*files);
        return leave;
    }
    case engineGroupCommand:
    case engineInitFiles: return false;
    default: return CTransferEngineBase::handleCommand(code, payload);
    }
}

void CUploadEngine::handleMarkGroup(const std::shared_ptr<CUploadGroup>& group)
{
    // A group that has left meanwhile (cancelled, completed) is not written to again.
    if (!group || groupManager().findGroupById(group->getGroupId()) != group)
        return;
    if (!group->isCancelled())
        group->markQueue();
    leaveIfFinished(group);
}

void CUploadEngine::handleFileDequeue(const FileDequeuInfo& info)
{
    const std::shared_ptr<CUploadGroup> group = uploadGroupOf(groupManager(), info.groupId);
    if (!group) {
        FV_LOG_WARNING("fv_transfers::CUploadEngine::handleFileDequeue: group with id " << info.groupId
                                                                                        << " doesn't exist");
        return;
    }
    group->removeFiles({info.file});
    wake(); // the dequeued file's place goes to the next one
}

void CUploadEngine::returnCancelledFiles(const CTransferEngineBase::FileList& files)
{
    for (const FilePtr& file : files) {
        auto uploadFile = std::dynamic_pointer_cast<IUploadFile>(file);
        if (!uploadFile)
            continue;
        const std::shared_ptr<CUploadGroup> group = uploadGroupOf(groupManager(), uploadFile->getGroupId());
        if (!group)
            continue;
        group->removeFile(uploadFile);
        leaveIfFinished(group);
    }
}

void CUploadEngine::onFileChannelsGoneLocked(ITransferFile& file)
{
    const std::shared_ptr<CUploadGroup> group = uploadGroupOf(groupManager(), file.getGroupId());
    CTransferEngineBase::onFileChannelsGoneLocked(file);
    leaveIfFinished(group);
}

void CUploadEngine::leaveIfFinished(const std::shared_ptr<CUploadGroup>& group)
{
    if (!group || !group->isFinished())
        return;
    groupManager().removeGroup(group);
    if (std::find(m_leftGroups.begin(), m_leftGroups.end(), group) == m_leftGroups.end())
        m_leftGroups.push_back(group);
}

void CUploadEngine::releaseLeftGroups()
{
    // Its files' channels name them by a plain pointer: a group outlives every one the engine
    // still holds. Let go of here, with no engine lock held, it usually ends here too.
    const auto held = [this](const std::shared_ptr<CUploadGroup>& group) {
        std::vector<std::shared_ptr<IUploadFile>> files;
        group->collectFiles(files);
        return std::any_of(files.begin(), files.end(),
                           [this](const std::shared_ptr<IUploadFile>& file) { return hasChannelsOfFile(file.get()); });
    };
    std::vector<std::shared_ptr<CUploadGroup>> released;
    for (auto it = m_leftGroups.begin(); it != m_leftGroups.end();) {
        if (held(*it)) {
            ++it;
            continue;
        }
        released.push_back(std::move(*it));
        it = m_leftGroups.erase(it);
    }
}

} // namespace fv_transfers
