#pragma once

#include "bridge/QueryHandlerRegistry.h"
#include "shell/ExceptionText.h"
#include "shell/FerrovanLogger.h"

#include <memory>
#include <string>

namespace ferrovan {

// Enters the bridge `name` in the registry, with a new Handler when `createHandler` is set and
// without one otherwise. A handler that cannot be made leaves the name out, logged; the caller
// goes on with the next bridge.
template <class Handler> void registerQueryHandler(const std::string& name, bool createHandler)
{
    ILogger* log = CFerrovanLogger::getInstance();
    logLine(log, Poco::Message::PRIO_INFORMATION, "Registering query handler for name " + name);
    try {
        std::unique_ptr<Handler> handler = createHandler ? std::make_unique<Handler>() : nullptr;
        QueryHandlerRegistry::getInstance().addHandler(name, handler.get());
        handler.release();
    } catch (const std::exception& e) {
        logLine(log, Poco::Message::PRIO_ERROR,
                "Query handler for name " + name + " is not registered due to exception: " + exceptionText(e));
    }
}

// Registers every bridge the program offers the page, with handlers or (createHandlers false)
// by name only.
void registerQueryHandlers(bool createHandlers);

} // namespace ferrovan
