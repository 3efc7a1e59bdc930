#pragma once

#include "shell/FileDescriptor.h"
#include "shell/InstanceGuard.h"

#include <memory>
#include <string>

namespace ferrovan {

// An exclusive flock on "instance.lock" beside the data it guards, not in the runtime folder,
// which is missing in CI and over ssh. A lock, not the file's presence, marks a running instance:
// the kernel drops it with the process, however that ends. The descriptor is closed on exec, so a
// restarted program never inherits it.
class CInstanceGuardLinux : public IInstanceGuard {
public:
    explicit CInstanceGuardLinux(const std::string& appDataDirectory);

    InstanceGuardState acquire() override;
    std::string getError() const override;

private:
    std::string m_lockPath;
    std::unique_ptr<FileDescriptor> m_lock; // null until held
    std::string m_error;
};

} // namespace ferrovan
