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

#include <Poco/Exception.h>

namespace ferrovan {

namespace {

using fv_transfers::CTransferManagerBase;
using fv_transfers::CUploadManager;

constexpr const char* kLogPrefix = "QueryHandlerUploadManager: ";

std::string function(const char* method)
{
    return "ferrovan::CQueryHandlerUploadManager::" + std::string(method);
}

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

CQueryHandlerUploadManager::CQueryHandlerUploadManager(const UserGrantedPaths& grants) : m_grants(grants)
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

CQueryHandlerUploadManager::~CQueryHandlerUploadManager()
{
    stopEvents();
}

void CQueryHandlerUploadManager::setContext(const QueryHandlerContext& context)
{
    m_manager = context.uploadManager;
    setBrowserAndManager(context.browser, m_manager.get());
}

void CQueryHandlerUploadManager::subscribeToEvents(bool subscribe)
{
    manager().subscribeToEvents(subscribe ? this : nullptr);
}

CUploadManager& CQueryHandlerUploadManager::manager()
{
    if (!m_manager)
        throw Poco::NullPointerException("upload manager");
    return *m_manager;
}

void CQueryHandlerUploadManager::onGroupStateChanged(const CUploadManager::GroupState& state)
{
    postEvent(&CQueryHandlerUploadManager::sendGroupStateToWebApp, state);
}

void CQueryHandlerUploadManager::onFileStateChanged(const CTransferManagerBase::FileState& state)
{
    postEvent(&CQueryHandlerUploadManager::sendFileStateToWebApp, state);
}

Json::Value CQueryHandlerUploadManager::getConfiguration(const Json::Value&)
{
    return configurationReply();
}

Json::Value CQueryHandlerUploadManager::configurationReply()
{
    Json::Value reply(Json::objectValue);
    configurationToJson(manager().getConfiguration(), reply);
    return reply;
}

Json::Value CQueryHandlerUploadManager::setConfiguration(const Json::Value& parameters)
{
    const std::string name = function("setConfiguration");
    CUploadManager::Configuration configuration = manager().getConfiguration();
    configurationFromJson(parameterObject(parameters, name), configuration, name);
    manager().setConfiguration(configuration);
    return configurationReply();
}

Json::Value CQueryHandlerUploadManager::fetchGroupsState(const Json::Value&)
{
    std::vector<CUploadManager::GroupState> states;
    manager().fetchGroupsInfo(states);
    Json::Value reply(Json::arrayValue);
    for (const CUploadManager::GroupState& state : states) {
        Json::Value json(Json::objectValue);
        groupStateToJson(state, json);
        reply.append(json);
    }
    return reply;
}

// Its failures show as a null id, never as a failed request.
Json::Value CQueryHandlerUploadManager::createGroup(const Json::Value& parameters)
{
    const std::string name = function("createGroup");
    Json::Value reply(Json::objectValue);
    reply["id"] = Json::Value();
    reply["state"] = Json::Value();
    try {
        const Json::Value& request = parameterObject(parameters, name);
        std::string bucketId = request.get("bucketId", "").asString();
        std::string bucketType = request.get("bucketType", "").asString();
        std::string token = request.get("token", "").asString();
        const std::uint64_t tokenExpires = request.get("tokenExpires", Json::Value()).asUInt64();
        // The token opens the bucket and the log goes to the help desk.
        logBridgeInformation("Creating upload group. Bucket id: " + printableForLog(bucketId) + ", bucket type: " +
                             printableForLog(bucketType) + ", token: " + (token.empty() ? "" : "***") +
                             ", token expires: " + std::to_string(tokenExpires));
        const int id = manager().createGroup(bucketId, bucketType, token, tokenExpires);
        if (id == -1)
            return reply;
        reply["id"] = std::to_string(id);
        CUploadManager::GroupState state;
        if (manager().getGroupState(id, state) == 0) {
            Json::Value json(Json::objectValue);
            groupStateToJson(state, json);
            reply["state"] = json;
        }
    } catch (const std::exception& e) {
        logBridgeError(name + ": Exception: " + exceptionText(e));
    }
    return reply;
}

bool CQueryHandlerUploadManager::readFiles(const Json::Value& request, std::vector<FileDesc>& files)
{
    const Json::Value list = request.get("files", Json::Value());
    if (!list.isArray() || list.empty())
        return false;
    for (const Json::Value& element : list) {
        try {
            FileDesc file;
            file.fileUid = element.get("id", "").asString();
            utf8ToWide(element.get("fileURL", "").asString(), file.fileUrl);
            files.push_back(std::move(file));
        } catch (const std::exception&) {
            // An element that cannot be read is left out; the others are queued.
        }
    }
    return true;
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
            logBridgeError(std::string(kLogPrefix) +
                           "refused to queue a file the user did not hand over: " + printableForLog(url));
            throw CBridgeRequestRefused("File was not chosen by the user");
        }
        paths.push_back(path);
    }
    queued.insert(paths.begin(), paths.end());
}

Json::Value CQueryHandlerUploadManager::queueFiles(const Json::Value& parameters)
{
    CUploadManager& uploads = manager();
    const std::string name = function("queueFiles");
    const Json::Value& request = parameterObject(parameters, name);
    const int groupId = groupIdFromParams(request, name);
    std::vector<FileDesc> files;
    const bool usable = readFiles(request, files);
    logBridgeInformation(std::string(kLogPrefix) + "Adding " + std::to_string(files.size()) +
                         " files to the group with id " + std::to_string(groupId));
    if (usable) {
        admitFiles(groupId, files);
        uploads.queueFiles(groupId, files);
    }
    return Json::Value(Json::objectValue);
}

Json::Value CQueryHandlerUploadManager::dequeueFiles(const Json::Value& parameters)
{
    CUploadManager& uploads = manager();
    const std::string name = function("dequeueFiles");
    const Json::Value& request = parameterObject(parameters, name);
    const int groupId = groupIdFromParams(request, name);
    std::vector<FileDesc> files;
    const bool usable = readFiles(request, files);
    logBridgeInformation(std::string(kLogPrefix) + "Removing " + std::to_string(files.size()) +
                         " files from the group with id " + std::to_string(groupId));
    if (usable)
        uploads.dequeueFile(groupId, files);
    return Json::Value(Json::objectValue);
}

// The manager is asked for first: without one the request fails before anything is read.
Json::Value CQueryHandlerUploadManager::markQueue(const Json::Value& parameters)
{
    manager().markQueue(
        loggedGroupId(parameters, function("markQueue"), std::string(kLogPrefix) + "Marked group with id: "));
    return Json::Value(Json::objectValue);
}

Json::Value CQueryHandlerUploadManager::unmarkQueue(const Json::Value& parameters)
{
    manager().unmarkQueue(
        loggedGroupId(parameters, function("unmarkQueue"), std::string(kLogPrefix) + "Unmarked group with id: "));
    return Json::Value(Json::objectValue);
}

Json::Value CQueryHandlerUploadManager::pauseGroup(const Json::Value& parameters)
{
    manager().pauseGroup(
        loggedGroupId(parameters, function("pauseGroup"), std::string(kLogPrefix) + "Paused group with id: "));
    return Json::Value(Json::objectValue);
}

Json::Value CQueryHandlerUploadManager::resumeGroup(const Json::Value& parameters)
{
    manager().resumeGroup(
        loggedGroupId(parameters, function("resumeGroup"), std::string(kLogPrefix) + "Resumed group with id: "));
    return Json::Value(Json::objectValue);
}

Json::Value CQueryHandlerUploadManager::cancelGroup(const Json::Value& parameters)
{
    manager().cancelGroup(
        loggedGroupId(parameters, function("cancelGroup"), std::string(kLogPrefix) + "Canceled group with id: "));
    return Json::Value(Json::objectValue);
}

void CQueryHandlerUploadManager::sendFileStateToWebApp(const CTransferManagerBase::FileState& state)
{
    Json::Value json(Json::objectValue);
    fileStateToJson(state, json);
    sendToWebApp("_uploadManager_fileStateChanged(", json);
}

void CQueryHandlerUploadManager::sendGroupStateToWebApp(const CUploadManager::GroupState& state)
{
    reportGroupProgress(state);
    Json::Value json(Json::objectValue);
    groupStateToJson(state, json);
    sendToWebApp("_uploadManager_groupStateChanged(", groupEventJson(state, json));
}

} // namespace ferrovan
