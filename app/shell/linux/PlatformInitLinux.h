#pragma once

#include "shell/PlatformInit.h"

namespace ferrovan {

class CPlatformInitLinux : public IPlatformInit {
public:
    bool init() override;
};

} // namespace ferrovan
