#pragma once

#include "shell/ConfirmDialog.h"

namespace ferrovan {

// A GtkMessageDialog with "Yes" and "No".
class ConfirmDialogLinux : public IConfirmDialog {
public:
    explicit ConfirmDialogLinux(INativeUiDataHolder* parent);

    bool confirm(const std::string& text, int type) override;

private:
    INativeUiDataHolder* m_parent; // borrowed; may be null
};

} // namespace ferrovan
