#include "browser/host/linux/CefJSDialogCallbackLinux.h"

#include <utility>

namespace ferrovan {

CefJSDialogCallbackLinux::CefJSDialogCallbackLinux(WebKitScriptDialog* dialog)
    : m_dialog(webkit_script_dialog_ref(dialog))
{
}

CefJSDialogCallbackLinux::~CefJSDialogCallbackLinux()
{
    Continue(false, "");
}

void CefJSDialogCallbackLinux::Continue(bool success, const fvcef::CefString&)
{
    WebKitScriptDialog* dialog = std::exchange(m_dialog, nullptr);
    if (dialog == nullptr)
        return;
    if (webkit_script_dialog_get_dialog_type(dialog) == WEBKIT_SCRIPT_DIALOG_CONFIRM)
        webkit_script_dialog_confirm_set_confirmed(dialog, success);
    webkit_script_dialog_close(dialog);
    webkit_script_dialog_unref(dialog);
}

void CefJSDialogCallbackLinux::release()
{
    WebKitScriptDialog* dialog = std::exchange(m_dialog, nullptr);
    if (dialog != nullptr)
        webkit_script_dialog_unref(dialog);
}

} // namespace ferrovan
