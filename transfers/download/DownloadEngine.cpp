#include "download/DownloadEngine.h"

#include "download/DownloadFile.h"
#include "download/DownloadGroup.h"
#include "framework/TransferBufferManagerFactory.h"

#include <utility>

namespace fv_transfers {

namespace {

CTransferEngineBase::EngineNames downloadEngineNames()
{
    return {"fv-dl-engine", "download engine", "Download engine", "Initializing download engine!",
            "Uninitializing download enigine"};
}

std::shared_ptr<CDownloadGroup> downloadGroupOf(CGroupManagerBase& manager, ITransferFile& file)
{
    return std::dynamic_pointer_cast<CDownloadGroup>(manager.findGroupById(file.getGroupId()));
}

} // namespace

CDownloadEngine::CDownloadEngine(CGroupManagerBase& groupManager, const Limits& limits,
                                 std::shared_ptr<ITransferBufferManager> bufferManager)
    : CTransferEngineBase(groupManager, downloadEngineNames(), limits,
                          bufferManager ? std::move(bufferManager) : createTransferBufferManager(0))
{
}

CDownloadEngine::~CDownloadEngine()
{
    // The thread calls this engine's hooks: it ends before they do.
    uninit();
}

void CDownloadEngine::cancelFiles(const IDownloadEngineCallback::FileList& files)
{
    postFiles(engineCancelFiles, files);
}

void CDownloadEngine::pauseFiles(const IDownloadEngineCallback::FileList& files)
{
    postFiles(enginePauseFiles, files);
}

void CDownloadEngine::resumeFiles(const IDownloadEngineCallback::FileList& files)
{
    postFiles(engineResumeFiles, files);
}

void CDownloadEngine::addFileChannels(const std::shared_ptr<CDownloadFile>& file)
{
    postCommand(engineAddFileChannels, file);
}

void CDownloadEngine::initFiles(const std::shared_ptr<CDownloadGroup>& group,
                                const std::vector<FileDownloadDetails>& files)
{
    postCommand(engineInitFiles, FileInitInfo{group, files});
}

void CDownloadEngine::wakeUp()
{
    wake();
}

std::shared_ptr<ITransferBufferManager> CDownloadEngine::getBufferManager()
{
    return bufferPool();
}

CTransferEngineBase::FilePtr CDownloadEngine::getGroupFile(const GroupPtr& group)
{
    auto downloadGroup = std::dynamic_pointer_cast<CDownloadGroup>(group);
    if (!downloadGroup)
        return nullptr;
    return downloadGroup->getNextFile();
}

bool CDownloadEngine::handleCommand(int code, const Poco::Any& payload)
{
    switch (code) {
    case engineAddFileChannels: {
        const auto* file = Poco::AnyCast<std::shared_ptr<CDownloadFile>>(&payload);
        if (file && *file)
            parkFileChannels(**file);
        return false;
    }
    case engineInitFiles: {
        const auto* info = Poco::AnyCast<FileInitInfo>(&payload);
        if (info && info->group) {
            info->group->addFiles(info->files);
            wake();
        }
        return false;
    }
    case engineCancelFiles: {
        const bool leave = CTransferEngineBase::handleCommand(code, payload);
        if (const auto* files = Poco::AnyCast<CTransferEngineBase::FileList>(&payload))
            returnCancelledFiles(*files);
        return leave;
    }
    case engineGroupCommand:
    case engineMarkGroup:
    case engineDequeueFile: return false;
    default: return CTransferEngineBase::handleCommand(code, payload);
    }
}

void CDownloadEngine::returnCancelledFiles(const CTransferEngineBase::FileList& files)
{
    for (const FilePtr& file : files) {
        auto downloadFile = std::dynamic_pointer_cast<CDownloadFile>(file);
        if (!downloadFile)
            continue;
        if (auto group = downloadGroupOf(groupManager(), *downloadFile))
            group->removeFile(downloadFile);
    }
}

} // namespace fv_transfers
