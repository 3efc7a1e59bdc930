#pragma once

#include <memory>
#include <string>

namespace ferrovan {

class INativeUiDataHolder;

// A yes/no question, with the alert's types.
class IConfirmDialog {
public:
    virtual ~IConfirmDialog() = default;
    // True only for "Yes"; "No" and closing the box both mean no.
    virtual bool confirm(const std::string& text, int type) = 0;
};

// Modal for `parent`'s window (none when null); the parent must outlive the dialog object.
std::unique_ptr<IConfirmDialog> createConfirmDialog(INativeUiDataHolder* parent = nullptr);

} // namespace ferrovan
