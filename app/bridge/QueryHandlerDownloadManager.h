#pragma once

#include "bridge/DownloadDestination.h"
#include "bridge/QueryHandlerTransfer.h"
#include "download/DownloadManager.h"

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
class CQueryHandlerDownloadManager final : public CQueryHandlerTransfer<fv_transfers::CDownloadManager> {
public:
    explicit CQueryHandlerDownloadManager(DownloadDesktop desktop = DownloadDesktop::system());

    // Also the window the chooser is modal for.
    void setContext(const QueryHandlerContext& context) override;

private:
    using FileDownloadDetails = fv_transfers::CDownloadManager::FileDownloadDetails;
    using FilesAction = void (fv_transfers::CDownloadManager::*)(int, std::vector<FileDownloadDetails>&);

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
    // Reads "groupId" and "files", logs verb + count + preposition + id and hands the converted
    // elements to `action` when "files" is a non-empty array.
    Json::Value changeFiles(const Json::Value& parameters, const char* method, const char* verb,
                            const char* preposition, FilesAction action);

    // A finished group's folder, once per group and run.
    void groupStateSent(const GroupState& state) override;

    DownloadOptions m_options;
    DownloadDestination m_destination;
    DownloadDesktop m_desktop;
    // The finished groups whose folder was shown (or deliberately not), by id and bucket.
    std::set<std::pair<int, std::string>> m_shownGroups;
};

} // namespace ferrovan
