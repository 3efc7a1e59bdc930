#pragma once

#include "shell/AlertDialog.h"

namespace ferrovan {

// A GtkMessageDialog with an OK button.
class AlertDialogLinux : public IAlertDialog {
public:
    void show(const std::string& text, int type, INativeUiDataHolder* parent) override;
};

} // namespace ferrovan
