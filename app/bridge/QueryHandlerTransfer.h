#pragma once

#include "bridge/QueryHandlerTransferBase.h"
#include "bridge/TransferJson.h"
#include "download/DownloadManager.h"
#include "upload/UploadManager.h"

#include <Poco/Exception.h>
#include <Poco/SharedPtr.h>

#include <string>
#include <vector>

namespace ferrovan {

// How one transfer bridge names itself: in failures and log lines, and the page's functions its
// events call.
struct TransferBridgeNames {
    const char* qualifiedClass; // "ferrovan::CQueryHandler...::"
    const char* logPrefix;      // "QueryHandler...: "
    const char* fileFunction;   // "_...Manager_fileStateChanged("
    const char* groupFunction;  // "_...Manager_groupStateChanged("
};

namespace transfer_detail {
inline void fetchStates(fv_transfers::CUploadManager& manager, std::vector<fv_transfers::CUploadManager::GroupState>& s)
{
    manager.fetchGroupsInfo(s);
}
inline void fetchStates(fv_transfers::CDownloadManager& manager,
                        std::vector<fv_transfers::CDownloadManager::GroupState>& s)
{
    manager.fetchGroupsStates(s);
}
inline Poco::SharedPtr<fv_transfers::CUploadManager> managerOf(const QueryHandlerContext& context,
                                                               fv_transfers::CUploadManager*)
{
    return context.uploadManager;
}
inline Poco::SharedPtr<fv_transfers::CDownloadManager> managerOf(const QueryHandlerContext& context,
                                                                 fv_transfers::CDownloadManager*)
{
    return context.downloadManager;
}
} // namespace transfer_detail

// A transfer bridge over one kind of manager (upload or download): what both do alike with their
// manager and its events. The events are posted here, so the handler may go while the library
// still calls it: the destructor unsubscribes before anything of it is gone.
template <class Manager>
class CQueryHandlerTransfer : public CQueryHandlerTransferManagerBase, public Manager::ICallback {
public:
    using GroupState = typename Manager::GroupState;
    using FileState = fv_transfers::CTransferManagerBase::FileState;

    ~CQueryHandlerTransfer() override { stopEvents(); }

    // The browser and the manager, shared from here on; once, before the page is ready.
    void setContext(const QueryHandlerContext& context) override
    {
        m_manager = transfer_detail::managerOf(context, static_cast<Manager*>(nullptr));
        setBrowserAndManager(context.browser, m_manager.get());
    }

    // Library threads, sometimes inside a manager call: copied and posted to the UI thread.
    void onGroupStateChanged(const GroupState& state) final
    {
        postEvent(&CQueryHandlerTransfer::sendGroupState, state);
    }
    void onFileStateChanged(const FileState& state) final { postEvent(&CQueryHandlerTransfer::sendFileState, state); }

protected:
    explicit CQueryHandlerTransfer(const TransferBridgeNames& names) : m_names(names) {}

    // Throws Poco::NullPointerException before setContext gave one.
    Manager& manager()
    {
        if (!m_manager)
            throw Poco::NullPointerException("transfer manager");
        return *m_manager;
    }
    std::string function(const char* method) const { return m_names.qualifiedClass + std::string(method); }
    const char* logPrefix() const { return m_names.logPrefix; }

    // The manager's settings as the page sees them.
    Json::Value configurationJson()
    {
        Json::Value json(Json::objectValue);
        configurationToJson(manager().getConfiguration(), json);
        return json;
    }
    // The request's settings applied all or nothing: a value that does not convert throws first.
    void applyConfiguration(const Json::Value& request, const std::string& functionName)
    {
        auto configuration = manager().getConfiguration();
        configurationFromJson(request, configuration, functionName);
        manager().setConfiguration(configuration);
    }
    Json::Value groupStatesJson()
    {
        std::vector<GroupState> states;
        transfer_detail::fetchStates(manager(), states);
        Json::Value reply(Json::arrayValue);
        for (const GroupState& state : states) {
            Json::Value json(Json::objectValue);
            groupStateToJson(state, json);
            reply.append(json);
        }
        return reply;
    }
    // {"id": the id as text, "state": its state or null}; both null for -1.
    Json::Value createdGroupJson(int id)
    {
        Json::Value reply(Json::objectValue);
        reply["id"] = id == -1 ? Json::Value() : Json::Value(std::to_string(id));
        reply["state"] = Json::Value();
        GroupState state;
        if (id != -1 && manager().getGroupState(id, state) == 0) {
            Json::Value json(Json::objectValue);
            groupStateToJson(state, json);
            reply["state"] = json;
        }
        return reply;
    }
    // "groupId" read and logged as "<prefix><what><id>", then handed to `action`. The manager is
    // asked for first: without one the request fails before anything is read.
    void onGroup(const Json::Value& parameters, const char* method, const char* what, void (Manager::*action)(int))
    {
        Manager& transfers = manager();
        (transfers.*action)(loggedGroupId(parameters, function(method), logPrefix() + std::string(what)));
    }

    // A group state the page was given (it has a main frame); UI thread.
    virtual void groupStateSent(const GroupState& state) { (void)state; }

private:
    void subscribeToEvents(bool subscribe) override { manager().subscribeToEvents(subscribe ? this : nullptr); }

    void sendFileState(const FileState& state)
    {
        Json::Value json(Json::objectValue);
        fileStateToJson(state, json);
        sendToWebApp(m_names.fileFunction, json);
    }
    void sendGroupState(const GroupState& state)
    {
        reportGroupProgress(state);
        Json::Value json(Json::objectValue);
        groupStateToJson(state, json);
        if (sendToWebApp(m_names.groupFunction, groupEventJson(state, json)))
            groupStateSent(state);
    }

    const TransferBridgeNames m_names;
    Poco::SharedPtr<Manager> m_manager;
};

} // namespace ferrovan
