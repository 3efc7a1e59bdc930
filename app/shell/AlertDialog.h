#pragma once

#include <memory>
#include <string>

namespace ferrovan {

class INativeUiDataHolder;

// The types of alert; any other number shows no icon.
constexpr int kWarningAlert = 1;
constexpr int kErrorAlert = 2;
constexpr int kInformationAlert = 3;

// A message box with one button, of one of the alert types above.
class IAlertDialog {
public:
    virtual ~IAlertDialog() = default;
    // Returns once the user has closed it; modal for `parent`'s window (none when null).
    virtual void show(const std::string& text, int type, INativeUiDataHolder* parent) = 0;
};

std::unique_ptr<IAlertDialog> createAlertDialog();

} // namespace ferrovan
