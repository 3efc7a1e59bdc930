#pragma once

#include "bridge/QueryHandlerContext.h"
#include "browser/host/CefMessageRouterBrowserSide.h"

#include <Poco/Any.h>

namespace ferrovan {

// The ids of the optional interfaces getInterface offers; the Any holds a plain pointer into
// the handler.
enum QueryHandlerInterface : int {
    kDragHandlerInterface = 1,               // IDragHandler*
    kAppLifecycleEventsHandlerInterface = 2, // IAppLifecycleEventsHandler*
    kTransferProgressReporterInterface = 4,  // ITransferProgressReporter*
    kProgressBarBridgeInterface = 8,         // IProgressBarBridge*
};

// The handler of one bridge name. Used on the UI thread only.
class IQueryHandler : public fvcef::CefMessageRouterBrowserSide::Handler {
public:
    virtual void setContext(const QueryHandlerContext& context) = 0;
    // Empty when the handler does not offer interface `id`.
    virtual Poco::Any getInterface(int id) = 0;
};

} // namespace ferrovan
