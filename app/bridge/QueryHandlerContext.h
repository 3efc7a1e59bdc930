#pragma once

#include "browser/host/CefBrowser.h"
#include "browser/host/CefRefPtr.h"
#include "download/DownloadManager.h"
#include "upload/UploadManager.h"

#include <Poco/SharedPtr.h>

namespace ferrovan {

class INativeUiDataHolder;
class IWebAppLifeCycleCallback;

// What a query handler gets from the browser host once its router exists.
struct QueryHandlerContext {
    fvcef::CefRefPtr<fvcef::CefBrowser> browser;
    IWebAppLifeCycleCallback* lifeCycle = nullptr; // not owned
    Poco::SharedPtr<fv_transfers::CUploadManager> uploadManager;
    Poco::SharedPtr<fv_transfers::CDownloadManager> downloadManager;
    // The main window, parent of the choosers and alerts a handler opens; not owned.
    INativeUiDataHolder* mainWindow = nullptr;
};

} // namespace ferrovan
