#pragma once

#include <Poco/SharedPtr.h>

#include <stdexcept>

namespace fv_transfers {
class CFvTransfersGlobalConfig;
}

namespace ferrovan {

class AppEnvironment;
class ILogger;

// The objects start-up hands to its components; a user that misses one throws this.
class IncompleteGlobalObjects : public std::runtime_error {
public:
    IncompleteGlobalObjects()
        : std::runtime_error("One of the objects passed in AppGlobalObjects is either incomplete or invalid!")
    {
    }
};

struct AppGlobalObjects {
    Poco::SharedPtr<AppEnvironment> environment;
    fv_transfers::CFvTransfersGlobalConfig* transfersConfig = nullptr; // borrowed
    ILogger* delayedLogger = nullptr;                                  // borrowed
};

} // namespace ferrovan
