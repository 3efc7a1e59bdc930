#pragma once

#include <memory>
#include <string>

namespace ferrovan {

class INativeUiDataHolder;

// A message box with one button. Types: 1 warning, 2 error, 3 information; any other shows no icon.
class IAlertDialog {
public:
    virtual ~IAlertDialog() = default;
    // Returns once the user has closed it; modal for `parent`'s window (none when null).
    virtual void show(const std::string& text, int type, INativeUiDataHolder* parent) = 0;
};

std::unique_ptr<IAlertDialog> createAlertDialog();

} // namespace ferrovan
