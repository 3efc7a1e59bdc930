#pragma once

#include "bridge/QueryHandlerTransferBase.h"
#include "upload/UploadManager.h"

#include <Poco/SharedPtr.h>

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
class CQueryHandlerUploadManager final : public CQueryHandlerTransferManagerBase,
                                         public fv_transfers::CUploadManager::ICallback {
public:
    // `grants` (not owned) must outlive the handler.
    explicit CQueryHandlerUploadManager(const UserGrantedPaths& grants);
    // Over the program's grants.
    CQueryHandlerUploadManager();
    ~CQueryHandlerUploadManager() override;

    // The browser and the upload manager, shared from here on.
    void setContext(const QueryHandlerContext& context) override;

    // Library threads, sometimes inside a manager call: copied and posted to the UI thread.
    void onGroupStateChanged(const fv_transfers::CUploadManager::GroupState& state) override;
    void onFileStateChanged(const fv_transfers::CTransferManagerBase::FileState& state) override;

private:
    using FileDesc = fv_transfers::CUploadManager::FileDesc;

    void subscribeToEvents(bool subscribe) override;
    // Throws Poco::NullPointerException before setContext gave one.
    fv_transfers::CUploadManager& manager();

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

    Json::Value configurationReply();
    // The readable elements of "files"; false when "files" is not a non-empty array.
    static bool readFiles(const Json::Value& request, std::vector<FileDesc>& files);
    // Throws CBridgeRequestRefused, before anything is queued, when one file is neither granted
    // nor queued into the group before; remembers the files as queued otherwise.
    void admitFiles(int groupId, const std::vector<FileDesc>& files);

    // UI thread.
    void sendFileStateToWebApp(const fv_transfers::CTransferManagerBase::FileState& state);
    void sendGroupStateToWebApp(const fv_transfers::CUploadManager::GroupState& state);

    const UserGrantedPaths& m_grants;
    Poco::SharedPtr<fv_transfers::CUploadManager> m_manager;
    // The local paths queued into each group in this run.
    std::map<int, std::set<std::string>> m_queuedPaths;
};

} // namespace ferrovan
