#include "bridge/QueryHandlerUploadManager.h"

#include "bridge/BridgeLog.h"
#include "bridge/BridgeRequestRefused.h"
#include "bridge/LocalPath.h"
#include "bridge/TransferJson.h"
#include "bridge/UserGrantedPaths.h"
#include "shell/ExceptionText.h"
#include "shell/FileUrl.h"
#include "shell/LogText.h"
#include "shell/StringConversion.h"

namespace ferrovan {

namespace {

using fv_transfers::CTransferManagerBase;
using fv_transfers::CUploadManager;

const TransferBridgeNames kNames{"ferrovan::CQueryHandlerUploadManager::", "QueryHandlerUploadManager: ",
                                 "_uploadManager_fileStateChanged(", "_uploadManager_groupStateChanged("};

// The local path of a file URL from the page, normalised; empty when it names none.
std::string localPathOf(const std::wstring& url)
{
    std::string text;
    wideToUtf8(url, text);
    std::string path;
    return fileUrlToPath(text, path) ? normalisedAbsolutePath(path) : std::string();
}

} // namespace

CQueryHandlerUploadManager::CQueryHandlerUploadManager() : CQueryHandlerUploadManager(UserGrantedPaths::getInstance())
{
}

CQueryHandlerUploadManager::CQueryHandlerUploadManager(const UserGrantedPaths& grants)
    : CQueryHandlerTransfer(kNames), m_grants(grants)
{
    registerMethod("getConfiguration", &CQueryHandlerUploadManager::getConfiguration);
    registerMethod("setConfiguration", &CQueryHandlerUploadManager::setConfiguration);
    registerMethod("fetchGroupsState", &CQueryHandlerUploadManager::fetchGroupsState);
    registerMethod("createGroup", &CQueryHandlerUploadManager::createGroup);
    registerMethod("queueFiles", &CQueryHandlerUploadManager::queueFiles);
    registerMethod("markQueue", &CQueryHandlerUploadManager::markQueue);
    registerMethod("dequeueFiles", &CQueryHandlerUploadManager::dequeueFiles);
    registerMethod("unmarkQueue", &CQueryHandlerUploadManager::unmarkQueue);
    registerMethod("pauseGroup", &CQueryHandlerUploadManager::pauseGroup);
    registerMethod("resumeGroup", &CQueryHandlerUploadManager::resumeGroup);
    registerMethod("cancelGroup", &CQueryHandlerUploadManager::cancelGroup);
}

Json::Value CQueryHandlerUploadManager::getConfiguration(const Json::Value&)
{
    return configurationJson();
}

Json::Value CQueryHandlerUploadManager::setConfiguration(const Json::Value& parameters)
{
    const std::string name = function("setConfiguration");
    applyConfiguration(parameterObject(parameters, name), name);
    return configurationJson();
}

Json::Value CQueryHandlerUploadManager::fetchGroupsState(const Json::Value&)
{
    return groupStatesJson();
}

// Its failures show as a null id, never as a failed request.
Json::Value CQueryHandlerUploadManager::createGroup(const Json::Value& parameters)
{
    try {
        const Json::Value& request = parameterObject(parameters, function("createGroup"));
        GroupBucket bucket = groupBucketFromJson(request);
        logBridgeInformation(groupCreationLogLine("upload", bucket));
        return createdGroupJson(
            manager().createGroup(bucket.bucketId, bucket.bucketType, bucket.token, bucket.tokenExpires));
    } catch (const std::exception& e) {
        logBridgeError(function("createGroup") + ": Exception: " + exceptionText(e));
    }
    return createdGroupJson(-1);
}

bool CQueryHandlerUploadManager::readFiles(const Json::Value& parameters, const char* method, const char* verb,
                                           const char* preposition, int& groupId, std::vector<FileDesc>& files)
{
    const std::string name = function(method);
    const Json::Value& request = parameterObject(parameters, name);
    groupId = groupIdFromParams(request, name);
    const Json::Value list = request.get("files", Json::Value());
    for (const Json::Value& element : list.isArray() ? list : Json::Value(Json::arrayValue)) {
        try {
            FileDesc file;
            file.fileUid = element.get("id", "").asString();
            utf8ToWide(element.get("fileURL", "").asString(), file.fileUrl);
            files.push_back(std::move(file));
        } catch (const std::exception&) {
            // An element that cannot be read is left out; the others are queued.
        }
    }
    logBridgeInformation(logPrefix() + std::string(verb) + std::to_string(files.size()) + preposition +
                         std::to_string(groupId));
    return list.isArray() && !list.empty();
}

void CQueryHandlerUploadManager::admitFiles(int groupId, const std::vector<FileDesc>& files)
{
    std::set<std::string>& queued = m_queuedPaths[groupId];
    std::vector<std::string> paths;
    for (const FileDesc& file : files) {
        const std::string path = localPathOf(file.fileUrl);
        if (path.empty() || (!m_grants.isGranted(path) && !queued.count(path))) {
            std::string url;
            wideToUtf8(file.fileUrl, url);
            logBridgeError(logPrefix() + std::string("refused to queue a file the user did not hand over: ") +
                           printableForLog(url));
            throw CBridgeRequestRefused("File was not chosen by the user");
        }
        paths.push_back(path);
    }
    queued.insert(paths.begin(), paths.end());
}

Json::Value CQueryHandlerUploadManager::queueFiles(const Json::Value& parameters)
{
    CUploadManager& uploads = manager();
    int groupId = 0;
    std::vector<FileDesc> files;
    if (readFiles(parameters, "queueFiles", "Adding ", " files to the group with id ", groupId, files)) {
        admitFiles(groupId, files);
        uploads.queueFiles(groupId, files);
    }
    return Json::Value(Json::objectValue);
}

Json::Value CQueryHandlerUploadManager::dequeueFiles(const Json::Value& parameters)
{
    CUploadManager& uploads = manager();
    int groupId = 0;
    std::vector<FileDesc> files;
    if (readFiles(parameters, "dequeueFiles", "Removing ", " files from the group with id ", groupId, files))
        uploads.dequeueFile(groupId, files);
    return Json::Value(Json::objectValue);
}

Json::Value CQueryHandlerUploadManager::markQueue(const Json::Value& parameters)
{
    onGroup(parameters, "markQueue", "Marked group with id: ", &CUploadManager::markQueue);
    return Json::Value(Json::objectValue);
}

Json::Value CQueryHandlerUploadManager::unmarkQueue(const Json::Value& parameters)
{
    onGroup(parameters, "unmarkQueue", "Unmarked group with id: ", &CUploadManager::unmarkQueue);
    return Json::Value(Json::objectValue);
}

Json::Value CQueryHandlerUploadManager::pauseGroup(const Json::Value& parameters)
{
    onGroup(parameters, "pauseGroup", "Paused group with id: ", &CUploadManager::pauseGroup);
    return Json::Value(Json::objectValue);
}

Json::Value CQueryHandlerUploadManager::resumeGroup(const Json::Value& parameters)
{
    onGroup(parameters, "resumeGroup", "Resumed group with id: ", &CUploadManager::resumeGroup);
    return Json::Value(Json::objectValue);
}

Json::Value CQueryHandlerUploadManager::cancelGroup(const Json::Value& parameters)
{
    onGroup(parameters, "cancelGroup", "Canceled group with id: ", &CUploadManager::cancelGroup);
    return Json::Value(Json::objectValue);
}

} // namespace ferrovan
