#include "shell/linux/FvDialogLinuxBase.h"

#include "shell/AlertDialog.h"
#include "shell/ExceptionText.h"
#include "shell/FerrovanLogger.h"
#include "shell/Logger.h"
#include "shell/linux/GtkWindows.h"

#include <exception>
#include <utility>

namespace ferrovan {

FvDialogLinuxBase::FvDialogLinuxBase(INativeUiDataHolder* parent, std::string title)
    : m_parent(parent), m_title(std::move(title))
{
}

FvDialogLinuxBase::~FvDialogLinuxBase()
{
    if (m_window != nullptr) {
        g_signal_handlers_disconnect_by_data(m_window, this);
        gtk_widget_destroy(std::exchange(m_window, nullptr));
    }
}

void* FvDialogLinuxBase::getNativeWindow()
{
    return m_window;
}

bool FvDialogLinuxBase::showModal()
{
    if (m_window != nullptr)
        return false;
    OwnedToplevel dialog = ownToplevel(gtk_dialog_new());
    m_window = dialog.get();
    gtk_window_set_title(GTK_WINDOW(m_window), m_title.c_str());
    gtk_window_set_transient_for(GTK_WINDOW(m_window), gtkWindowOf(m_parent));
    gtk_window_set_modal(GTK_WINDOW(m_window), TRUE);
    g_signal_connect(m_window, "destroy", G_CALLBACK(onDestroy), this);
    // Connected before gtk_dialog_run connects its own handler, so a refused OK can stop the
    // response before it ends the run.
    g_signal_connect(m_window, "response", G_CALLBACK(onResponse), this);
    g_signal_connect(m_window, "event", G_CALLBACK(onEvent), this);
    onInitDialog(GTK_DIALOG(m_window));
    const gint response = gtk_dialog_run(GTK_DIALOG(m_window));
    return response == GTK_RESPONSE_OK;
}

void FvDialogLinuxBase::hide()
{
    if (m_window != nullptr)
        gtk_widget_hide(m_window);
}

void FvDialogLinuxBase::close()
{
    if (m_window != nullptr)
        gtk_dialog_response(GTK_DIALOG(m_window), GTK_RESPONSE_NONE);
}

void FvDialogLinuxBase::show()
{
    if (m_window != nullptr)
        gtk_widget_show(m_window);
}

void FvDialogLinuxBase::onResponse(GtkDialog* dialog, gint response, gpointer self)
{
    if (response == GTK_RESPONSE_OK && !static_cast<FvDialogLinuxBase*>(self)->okAllowed())
        g_signal_stop_emission_by_name(dialog, "response");
}

gboolean FvDialogLinuxBase::onEvent(GtkWidget*, GdkEvent* event, gpointer self)
{
    // Taken before "delete-event": gtk_dialog_run ends on that signal whatever its other
    // handlers answer. Escape arrives here as a delete event too.
    return event->type == GDK_DELETE && !static_cast<FvDialogLinuxBase*>(self)->userMayClose();
}

void FvDialogLinuxBase::onDestroy(GtkWidget*, gpointer self)
{
    static_cast<FvDialogLinuxBase*>(self)->m_window = nullptr;
}

bool FvDialogLinuxBase::okAllowed()
{
    // No exception may cross GTK's frames; the user learns that the action failed.
    std::string failure;
    try {
        return onOk();
    } catch (const std::exception& e) {
        failure = exceptionText(e);
    } catch (...) {
        failure = "unknown exception";
    }
    logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_ERROR,
            "ferrovan::FvDialogLinuxBase::okAllowed: " + m_title + ": " + failure);
    createAlertDialog()->show("Error happened while processing the request.", kErrorAlert, this);
    return false;
}

} // namespace ferrovan
