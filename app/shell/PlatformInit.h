#pragma once

#include <memory>

namespace ferrovan {

// What the platform needs before any window exists.
class IPlatformInit {
public:
    virtual ~IPlatformInit() = default;
    virtual bool init() = 0;
};

std::unique_ptr<IPlatformInit> createPlatformInit();

} // namespace ferrovan
