#include "bridge/QueryHandlerDownloadManager.h"

#include "bridge/BridgeLog.h"
#include "bridge/TransferJson.h"
#include "shell/FileUrl.h"
#include "shell/LogText.h"
#include "shell/OsFileExplorer.h"
#include "shell/StringConversion.h"

#include <charconv>
#include <memory>

namespace ferrovan {

const char* const kAutoDownloadGroupInfoKey = "AUTO_DOWNLOAD";

namespace {

using fv_transfers::CDownloadManager;
using fv_transfers::CTransferManagerBase;

const TransferBridgeNames kNames{"ferrovan::CQueryHandlerDownloadManager::", "QueryHandlerDownloadManager: ",
                                 "_downloadManager_fileStateChanged(", "_downloadManager_groupStateChanged("};

bool isAutoDownloadGroup(const CDownloadManager::GroupState& state)
{
    if (!state.groupInfo)
        return false;
    const auto entry = state.groupInfo->find(kAutoDownloadGroupInfoKey);
    if (entry == state.groupInfo->end())
        return false;
    long value = 0;
    const std::string& text = entry->second;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value != 0;
}

bool isFinished(const CDownloadManager::GroupState& state)
{
    const bool completed =
        state.state == CTransferManagerBase::GROUP_COMPLETED && state.percentTransferred != 0.0f && !state.cancelled;
    return completed || (state.cancelled && state.filesCompleted != 0);
}

} // namespace

CQueryHandlerDownloadManager::CQueryHandlerDownloadManager(DownloadDesktop desktop)
    : CQueryHandlerTransfer(kNames), m_destination(desktop, nullptr), m_desktop(std::move(desktop))
{
    registerMethod("getConfiguration", &CQueryHandlerDownloadManager::getConfiguration);
    registerMethod("setConfiguration", &CQueryHandlerDownloadManager::setConfiguration);
    registerMethod("fetchGroupsState", &CQueryHandlerDownloadManager::fetchGroupsState);
    registerMethod("createGroup", &CQueryHandlerDownloadManager::createGroup);
    registerMethod("queueFiles", &CQueryHandlerDownloadManager::queueFiles);
    registerMethod("dequeueFiles", &CQueryHandlerDownloadManager::dequeueFiles);
    registerMethod("pauseGroup", &CQueryHandlerDownloadManager::pauseGroup);
    registerMethod("resumeGroup", &CQueryHandlerDownloadManager::resumeGroup);
    registerMethod("cancelGroup", &CQueryHandlerDownloadManager::cancelGroup);
}

void CQueryHandlerDownloadManager::setContext(const QueryHandlerContext& context)
{
    CQueryHandlerTransfer::setContext(context);
    m_destination.setParent(context.mainWindow);
}

Json::Value CQueryHandlerDownloadManager::getConfiguration(const Json::Value&)
{
    return configurationReply();
}

Json::Value CQueryHandlerDownloadManager::configurationReply()
{
    Json::Value reply = configurationJson();
    reply["autoDownload"] = m_options.autoDownload;
    reply["autoOpenAfterDownload"] = m_options.autoOpenAfterDownload;
    std::string folder = m_options.autoDownloadPath;
    if (!folder.empty() || m_destination.defaultAutoDownloadDirectory(folder))
        reply["autoDownloadPath"] = folder;
    else
        logBridgeWarning(function("getConfiguration") + ": Failed to get autodownload directory");
    return reply;
}

Json::Value CQueryHandlerDownloadManager::setConfiguration(const Json::Value& parameters)
{
    const std::string name = function("setConfiguration");
    const Json::Value& request = parameterObject(parameters, name);
    const DownloadOptions options = optionsFrom(request);
    // A refused setting throws here, before the options change.
    applyConfiguration(request, name);
    m_options = options;
    return configurationReply();
}

DownloadOptions CQueryHandlerDownloadManager::optionsFrom(const Json::Value& parameters)
{
    DownloadOptions options = m_options;
    const Json::Value autoDownload = parameters.get("autoDownload", Json::Value());
    if (autoDownload.isBool())
        options.autoDownload = autoDownload.asBool();
    const Json::Value autoOpen = parameters.get("autoOpenAfterDownload", Json::Value());
    if (autoOpen.isBool())
        options.autoOpenAfterDownload = autoOpen.asBool();
    const Json::Value path = parameters.get("autoDownloadPath", Json::Value());
    if (path.isString()) {
        const std::string folder = path.asString();
        // Empty brings the default folder back.
        if (folder.empty() || m_destination.acceptsPageFolder(folder))
            options.autoDownloadPath = folder;
        else
            logBridgeError(function("setConfiguration") +
                           ": automatic download folder refused: " + printableForLog(folder));
    }
    return options;
}

Json::Value CQueryHandlerDownloadManager::fetchGroupsState(const Json::Value&)
{
    return groupStatesJson();
}

Json::Value CQueryHandlerDownloadManager::createGroup(const Json::Value& parameters)
{
    const Json::Value& request = parameterObject(parameters, function("createGroup"));
    CDownloadManager& downloads = manager();
    GroupBucket bucket = groupBucketFromJson(request);
    std::string folder;
    bool autoDownload = false;
    if (!m_destination.groupDownloadPath(request, m_options, folder, autoDownload)) {
        logBridgeError("Failed to obtain download path for bucket with id " + printableForLog(bucket.bucketId));
        return Json::Value();
    }
    logBridgeInformation(groupCreationLogLine("download", bucket) + ", download path: " + printableForLog(folder));
    std::string url;
    if (!pathToFileUrl(folder, url)) {
        logBridgeError(function("createGroup") + ": no file URL for the download path " + printableForLog(folder));
        return Json::Value();
    }
    std::wstring folderUrl;
    utf8ToWide(url, folderUrl);
    auto groupInfo = std::make_shared<CDownloadManager::GroupInfoMap>();
    (*groupInfo)[kAutoDownloadGroupInfoKey] = autoDownload ? "1" : "0";

    const int id = downloads.createGroup(bucket.bucketId, bucket.bucketType, bucket.token, bucket.tokenExpires,
                                         folderUrl, groupInfo);
    return id == -1 ? Json::Value() : createdGroupJson(id);
}

Json::Value CQueryHandlerDownloadManager::queueFiles(const Json::Value& parameters)
{
    return changeFiles(parameters, "queueFiles", "Adding ", " files to the group with id ",
                       &CDownloadManager::queueFiles);
}

Json::Value CQueryHandlerDownloadManager::dequeueFiles(const Json::Value& parameters)
{
    return changeFiles(parameters, "dequeueFiles", "Removing ", " files from the group with id ",
                       &CDownloadManager::dequeueFiles);
}

Json::Value CQueryHandlerDownloadManager::changeFiles(const Json::Value& parameters, const char* method,
                                                      const char* verb, const char* preposition, FilesAction action)
{
    CDownloadManager& downloads = manager();
    const std::string name = function(method);
    const Json::Value& request = parameterObject(parameters, name);
    const int groupId = groupIdFromParams(request, name);
    const Json::Value list = request.get("files", Json::Value());
    std::vector<FileDownloadDetails> files;
    for (const Json::Value& element : list.isArray() ? list : Json::Value(Json::arrayValue)) {
        FileDownloadDetails file;
        if (downloadFileFromJson(element, file))
            files.push_back(std::move(file));
    }
    logBridgeInformation(logPrefix() + std::string(verb) + std::to_string(files.size()) + preposition +
                         std::to_string(groupId));
    if (list.isArray() && !list.empty())
        (downloads.*action)(groupId, files);
    return Json::Value(Json::objectValue);
}

Json::Value CQueryHandlerDownloadManager::pauseGroup(const Json::Value& parameters)
{
    onGroup(parameters, "pauseGroup", "Paused group with id: ", &CDownloadManager::pauseGroup);
    return Json::Value();
}

Json::Value CQueryHandlerDownloadManager::resumeGroup(const Json::Value& parameters)
{
    onGroup(parameters, "resumeGroup", "Resumed group with id: ", &CDownloadManager::resumeGroup);
    return Json::Value();
}

Json::Value CQueryHandlerDownloadManager::cancelGroup(const Json::Value& parameters)
{
    onGroup(parameters, "cancelGroup", "Canceled group with id: ", &CDownloadManager::cancelGroup);
    return Json::Value();
}

void CQueryHandlerDownloadManager::groupStateSent(const CDownloadManager::GroupState& state)
{
    if (!isFinished(state) || !m_shownGroups.emplace(state.id, state.bucketId).second)
        return;
    if (!m_options.autoOpenAfterDownload && isAutoDownloadGroup(state)) {
        logBridgeInformation(
            "Not opening folder in explorer after download completion due to corresponding option set");
        return;
    }
    std::string folder;
    wideToUtf8(state.downloadPath, folder);
    const std::unique_ptr<IOsFileExplorer> explorer =
        m_desktop.createFileExplorer ? m_desktop.createFileExplorer() : nullptr;
    if (explorer && !explorer->showInFolder(folder))
        logBridgeError(function("groupStateSent") + ": could not show " + printableForLog(folder));
}

} // namespace ferrovan
