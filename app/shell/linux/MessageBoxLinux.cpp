#include "shell/linux/MessageBoxLinux.h"

#include "shell/AlertDialog.h"
#include "shell/linux/GtkWindows.h"

#include "AppConfig.h"

namespace ferrovan {

namespace {

GtkMessageType messageTypeOf(int type)
{
    switch (type) {
    case kWarningAlert: return GTK_MESSAGE_WARNING;
    case kErrorAlert: return GTK_MESSAGE_ERROR;
    case kInformationAlert: return GTK_MESSAGE_INFO;
    default: return GTK_MESSAGE_OTHER;
    }
}

} // namespace

int runMessageBox(const std::string& text, int type, GtkButtonsType buttons, INativeUiDataHolder* parent)
{
    // "%s": the text is the page's or the service's, never a format.
    OwnedToplevel dialog = ownToplevel(gtk_message_dialog_new(gtkWindowOf(parent), GTK_DIALOG_MODAL,
                                                              messageTypeOf(type), buttons, "%s", text.c_str()));
    gtk_window_set_title(GTK_WINDOW(dialog.get()), FV_PRODUCT_NAME);
    return gtk_dialog_run(GTK_DIALOG(dialog.get()));
}

} // namespace ferrovan
