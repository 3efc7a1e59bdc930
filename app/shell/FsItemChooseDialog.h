#pragma once

#include <string>
#include <vector>

namespace ferrovan {

// A modal chooser of local items that answers with "file:" URLs (UTF-8), the form in which the
// page receives local items.
class IFsItemChooseDialog {
public:
    virtual ~IFsItemChooseDialog() = default;
    virtual void setTitle(const std::string& title) = 0;
    // True only when the user confirmed a choice; its URLs are then appended to `urls`. Cancel and
    // every failure answer false with `urls` untouched.
    virtual bool run(std::vector<std::string>& urls) = 0;
};

} // namespace ferrovan
