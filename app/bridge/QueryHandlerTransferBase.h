#pragma once

#include "bridge/IAppLifecycleEventsHandler.h"
#include "bridge/ITransferProgressReporter.h"
#include "bridge/QueryHandlerBase.h"
#include "browser/host/CefBrowser.h"
#include "browser/host/CefRefPtr.h"
#include "browser/host/CefTask.h"

#include <memory>
#include <string>

namespace ferrovan {

// What the upload and download bridges share: the browser and the manager, the manager's start
// when the page is ready and its stop when the browser closes, and the way the manager's events
// reach the page.
//
// The library raises events on its own threads with its locks held, so a handler only copies
// the record and posts it to the UI thread; everything else, queries included, runs on the UI
// thread. A posted event holds the handler weakly: one that runs after the handler is gone does
// nothing. The class that receives the events calls stopEvents() in its destructor, so no
// library thread is inside it while it goes (CQueryHandlerTransfer does).
class CQueryHandlerTransferManagerBase : public CQueryHandlerBase,
                                         public IAppLifecycleEventsHandler,
                                         public ITransferProgressReporter {
public:
    CQueryHandlerTransferManagerBase();
    ~CQueryHandlerTransferManagerBase() override;

    // Interface 2 (life cycle) and 4 (progress reporter).
    Poco::Any getInterface(int id) override;

    // Keeps both, replacing earlier ones; the manager is not owned.
    void setBrowserAndManager(fvcef::CefRefPtr<fvcef::CefBrowser> browser, fv_transfers::CTransferManagerBase* manager);

    // Subscribes and starts the manager once; a reload's second "onAppReady" changes nothing.
    // Without a manager it throws Poco::NullPointerException.
    void onAppStartup() override;
    // Stops the manager (its threads are joined) and unsubscribes; a later start may follow.
    void onAppShutdown() override;

    // Each group state the page is sent is passed on to `callback` as well; not owned, null
    // stops it. UI thread only.
    void setProgressCallback(IProgressCallback* callback) override;

protected:
    // Registers this handler as its manager's event receiver (true) or removes it (false).
    virtual void subscribeToEvents(bool subscribe) = 0;

    // Unsubscribes when subscribed.
    void stopEvents();

    // From any thread: `send` runs later on the UI thread with a copy of `record`, unless the
    // handler is gone by then.
    template <class Handler, class Record> void postEvent(void (Handler::*send)(const Record&), const Record& record)
    {
        std::weak_ptr<CQueryHandlerTransferManagerBase> weak = m_self;
        fvcef::CefPostTask(fvcef::TID_UI, [weak = std::move(weak), send, record]() {
            if (const auto self = weak.lock())
                (static_cast<Handler*>(self.get())->*send)(record);
        });
    }

    // Runs prefix + the JSON's compact text + ");" in the page's main frame; without a main
    // frame (the page closes or reloads) nothing happens. False when nothing ran.
    bool sendToWebApp(const std::string& prefix, const Json::Value& json);
    // The request's "groupId" (see groupIdFromParams), logged after `logPrefix`.
    static int loggedGroupId(const Json::Value& parameters, const std::string& function, const std::string& logPrefix);
    // Passes the state on to the progress callback, when there is one.
    void reportGroupProgress(const fv_transfers::CTransferManagerBase::GroupState& state);

private:
    fvcef::CefRefPtr<fvcef::CefBrowser> m_browser;
    fv_transfers::CTransferManagerBase* m_manager = nullptr; // not owned
    IProgressCallback* m_progressCallback = nullptr;         // not owned
    bool m_started = false;
    bool m_subscribed = false;
    // Owns nothing: what posted events hold weakly. Set once in the constructor, so library
    // threads may copy it while subscribed.
    const std::shared_ptr<CQueryHandlerTransferManagerBase> m_self;
};

} // namespace ferrovan
