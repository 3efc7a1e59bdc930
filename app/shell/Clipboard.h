#pragma once

#include <memory>
#include <string>

namespace ferrovan {

// The desktop's clipboard. UI thread only.
class IClipboard {
public:
    virtual ~IClipboard() = default;
    // Puts the UTF-8 `text` on the clipboard; false when it could not (no display, bad UTF-8).
    virtual bool copy(const std::string& text) = 0;
};

std::unique_ptr<IClipboard> createClipboard();

} // namespace ferrovan
