#include "shell/linux/ConfirmDialogLinux.h"

#include "shell/linux/MessageBoxLinux.h"

namespace ferrovan {

std::unique_ptr<IConfirmDialog> createConfirmDialog(INativeUiDataHolder* parent)
{
    return std::make_unique<ConfirmDialogLinux>(parent);
}

ConfirmDialogLinux::ConfirmDialogLinux(INativeUiDataHolder* parent) : m_parent(parent) {}

bool ConfirmDialogLinux::confirm(const std::string& text, int type)
{
    // Closing the box answers GTK_RESPONSE_DELETE_EVENT, which is a no like any other answer.
    return runMessageBox(text, type, GTK_BUTTONS_YES_NO, m_parent) == GTK_RESPONSE_YES;
}

} // namespace ferrovan
