#include "bridge/QueryHandlerRegistration.h"

#include "bridge/QueryHandlerDownloadManager.h"
#include "bridge/QueryHandlerNativeApp.h"
#include "bridge/QueryHandlerUploadManager.h"

namespace ferrovan {

void registerQueryHandlers(bool createHandlers)
{
    // The bridges enter here, each with registerQueryHandler<Handler>(name, createHandlers), as
    // their handlers are built.
    registerQueryHandler<CQueryHandlerNativeApp>("nativeAppBridge_IPC", createHandlers);
    registerQueryHandler<CQueryHandlerUploadManager>("uploadManagerBridge_IPC", createHandlers);
    registerQueryHandler<CQueryHandlerDownloadManager>("downloadManagerBridge_IPC", createHandlers);
}

} // namespace ferrovan
