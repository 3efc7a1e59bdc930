#pragma once

#include "bridge/DownloadDestination.h"
#include "bridge/QueryHandlerTransferBase.h"
#include "download/DownloadManager.h"

#include <Poco/SharedPtr.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace ferrovan {

// The group-info key that marks an automatic-download group: "1" or "0".
extern const char* const kAutoDownloadGroupInfoKey;

// The bridge "downloadManagerBridge_IPC": the page creates download groups, queues the files it
// read from the service into them, pauses, resumes and cancels them, and reads and changes the
// download settings with the bridge's own options (automatic download, its folder, opening the
// folder afterwards). The manager's events reach the page as "_downloadManager_fileStateChanged("
// and "_downloadManager_groupStateChanged("; a finished group's folder is shown once per run.
class CQueryHandlerDownloadManager final : public CQueryHandlerTransferManagerBase,
                                           public fv_transfers::CDownloadManager::ICallback {
public:
    explicit CQueryHandlerDownloadManager(DownloadDesktop desktop = DownloadDesktop::system());
    ~CQueryHandlerDownloadManager() override;

    // The browser, the download manager (shared from here on) and the window the chooser is
    // modal for.
    void setContext(const QueryHandlerContext& context) override;

    // Library threads: copied and posted to the UI thread.
    void onGroupStateChanged(const fv_transfers::CDownloadManager::GroupState& state) override;
    void onFileStateChanged(const fv_transfers::CTransferManagerBase::FileState& state) override;

private:
    using FileDownloadDetails = fv_transfers::CDownloadManager::FileDownloadDetails;

    void subscribeToEvents(bool subscribe) override;
    // Throws Poco::NullPointerException before setContext gave one.
    fv_transfers::CDownloadManager& manager();

    Json::Value getConfiguration(const Json::Value& parameters);
    Json::Value setConfiguration(const Json::Value& parameters);
    Json::Value fetchGroupsState(const Json::Value& parameters);
    Json::Value createGroup(const Json::Value& parameters);
    Json::Value queueFiles(const Json::Value& parameters);
    Json::Value dequeueFiles(const Json::Value& parameters);
    Json::Value pauseGroup(const Json::Value& parameters);
    Json::Value resumeGroup(const Json::Value& parameters);
    Json::Value cancelGroup(const Json::Value& parameters);

    Json::Value configurationReply();
    // The options the request sets, on a copy; a folder the page may not name is left out.
    DownloadOptions optionsFrom(const Json::Value& parameters);
    using FilesAction = void (fv_transfers::CDownloadManager::*)(int, std::vector<FileDownloadDetails>&);
    // Reads "groupId" and "files", logs verb + count + preposition + id and hands the converted
    // elements to `action` when "files" is a non-empty array.
    Json::Value changeFiles(const Json::Value& parameters, const char* method, const char* verb,
                            const char* preposition, FilesAction action);

    // UI thread.
    void sendFileStateToWebApp(const fv_transfers::CTransferManagerBase::FileState& state);
    void sendGroupStateToWebApp(const fv_transfers::CDownloadManager::GroupState& state);
    void showFinishedGroup(const fv_transfers::CDownloadManager::GroupState& state);

    Poco::SharedPtr<fv_transfers::CDownloadManager> m_manager;
    DownloadOptions m_options;
    DownloadDestination m_destination;
    DownloadDesktop m_desktop;
    // The finished groups whose folder was shown (or deliberately not), by id and bucket.
    std::set<std::pair<int, std::string>> m_shownGroups;
};

} // namespace ferrovan
