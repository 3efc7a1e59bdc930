#pragma once

#include "bridge/QueryHandlerTransfer.h"
#include "upload/UploadManager.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace ferrovan {

class UserGrantedPaths;

// The bridge "uploadManagerBridge_IPC": the page creates upload groups for buckets it made on
// the service, queues local files into them, marks a group's list complete, pauses, resumes and
// cancels groups, and reads and changes the upload settings. Only files the user handed over
// in this run may be queued. The manager's events reach the page as
// "_uploadManager_fileStateChanged(" and "_uploadManager_groupStateChanged(".
class CQueryHandlerUploadManager final : public CQueryHandlerTransfer<fv_transfers::CUploadManager> {
public:
    // `grants` (not owned) must outlive the handler.
    explicit CQueryHandlerUploadManager(const UserGrantedPaths& grants);
    // Over the program's grants.
    CQueryHandlerUploadManager();

private:
    using FileDesc = fv_transfers::CUploadManager::FileDesc;

    Json::Value getConfiguration(const Json::Value& parameters);
    Json::Value setConfiguration(const Json::Value& parameters);
    Json::Value fetchGroupsState(const Json::Value& parameters);
    Json::Value createGroup(const Json::Value& parameters);
    Json::Value queueFiles(const Json::Value& parameters);
    Json::Value markQueue(const Json::Value& parameters);
    Json::Value dequeueFiles(const Json::Value& parameters);
    Json::Value unmarkQueue(const Json::Value& parameters);
    Json::Value pauseGroup(const Json::Value& parameters);
    Json::Value resumeGroup(const Json::Value& parameters);
    Json::Value cancelGroup(const Json::Value& parameters);

    // The group and the readable elements of "files", logged as verb + count + preposition +
    // id; false when "files" is not a non-empty array.
    bool readFiles(const Json::Value& parameters, const char* method, const char* verb, const char* preposition,
                   int& groupId, std::vector<FileDesc>& files);
    // Throws CBridgeRequestRefused, before anything is queued, when one file is neither granted
    // nor queued into the group before; remembers the files as queued otherwise.
    void admitFiles(int groupId, const std::vector<FileDesc>& files);

    const UserGrantedPaths& m_grants;
    // The local paths queued into each group in this run.
    std::map<int, std::set<std::string>> m_queuedPaths;
};

} // namespace ferrovan
