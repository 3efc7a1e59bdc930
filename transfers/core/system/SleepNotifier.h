#pragma once

#include <Poco/BasicEvent.h>

namespace fv_transfers {

// Tells subscribers that the machine is going to sleep (true) or woke up (false).
class ISleepNotifier {
public:
    virtual ~ISleepNotifier() = default;

    Poco::BasicEvent<const bool> sleepEvent;
};

} // namespace fv_transfers
