#pragma once

namespace fv_transfers {

// Keeps the machine from sleeping while prevent() is in force.
class ISleepPreventer {
public:
    virtual ~ISleepPreventer() = default;
    virtual bool prevent() = 0;
    virtual bool isPreventing() = 0;
    virtual bool allow() = 0;
};

} // namespace fv_transfers
