#include "shell/linux/AlertDialogLinux.h"

#include "shell/linux/MessageBoxLinux.h"

namespace ferrovan {

std::unique_ptr<IAlertDialog> createAlertDialog()
{
    return std::make_unique<AlertDialogLinux>();
}

void AlertDialogLinux::show(const std::string& text, int type, INativeUiDataHolder* parent)
{
    runMessageBox(text, type, GTK_BUTTONS_OK, parent);
}

} // namespace ferrovan
