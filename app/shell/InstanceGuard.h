#pragma once

#include <memory>
#include <string>

namespace ferrovan {

// What taking the single-instance guard found.
enum class InstanceGuardState {
    Held,          // this process holds it for the rest of its run
    HeldByAnother, // another instance over the same data runs
    Unavailable,   // it could not be taken at all; the program runs without it
};

// One running instance per data folder: two copies over one database would spoil the user's
// transfers. The guard is released when the object ends, or by the system when the process dies.
class IInstanceGuard {
public:
    virtual ~IInstanceGuard() = default;
    virtual InstanceGuardState acquire() = 0;
    // Why the last acquire gave Unavailable.
    virtual std::string getError() const = 0;
};

// The guard over the data in `appDataDirectory`.
std::unique_ptr<IInstanceGuard> createInstanceGuard(const std::string& appDataDirectory);

} // namespace ferrovan
