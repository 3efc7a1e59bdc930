#include "browser/host/linux/CefJSDialogCallbackLinux.h"

#include "browser/host/CefTask.h"

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

namespace {

void answer(WebKitScriptDialog* dialog, bool success)
{
    if (webkit_script_dialog_get_dialog_type(dialog) == WEBKIT_SCRIPT_DIALOG_CONFIRM)
        webkit_script_dialog_confirm_set_confirmed(dialog, success);
    webkit_script_dialog_close(dialog);
    webkit_script_dialog_unref(dialog);
}

} // namespace

// The view takes the answer only once its signal has returned: an answer given inside the
// client's callback waits for the next turn of the loop.
void CefJSDialogCallbackLinux::Continue(bool success, const fvcef::CefString&)
{
    WebKitScriptDialog* dialog = std::exchange(m_dialog, nullptr);
    if (dialog == nullptr)
        return;
    if (!fvcef::CefPostTask(fvcef::TID_UI, [dialog, success] { answer(dialog, success); }))
        answer(dialog, success);
}

void CefJSDialogCallbackLinux::release()
{
    WebKitScriptDialog* dialog = std::exchange(m_dialog, nullptr);
    if (dialog != nullptr)
        webkit_script_dialog_unref(dialog);
}

} // namespace ferrovan
