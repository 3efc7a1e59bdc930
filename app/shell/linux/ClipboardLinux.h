#pragma once

#include "shell/Clipboard.h"

namespace ferrovan {

// The CLIPBOARD selection of GTK's default display. The text is also handed to the desktop's
// clipboard manager, when there is one, so it outlives the program.
class ClipboardLinux : public IClipboard {
public:
    bool copy(const std::string& text) override;
};

} // namespace ferrovan
