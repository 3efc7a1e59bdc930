#include "shell/linux/UpdaterDialogLinux.h"

#include "shell/ExceptionText.h"

#include "AppConfig.h"

#include <utility>

namespace ferrovan {

namespace {

constexpr const char* kTitle = FV_PRODUCT_NAME;

} // namespace

UpdaterDialogLinux::UpdaterDialogLinux(Opener opener) : m_opener(std::move(opener)) {}

UpdaterDialogLinux::~UpdaterDialogLinux()
{
    for (auto& [box, open] : m_open) {
        g_signal_handler_disconnect(box, open.responseHandler);
        gtk_widget_destroy(box);
    }
}

void UpdaterDialogLinux::offerUpdate(const std::string& text, const std::string& downloadPage)
{
    GtkWidget* box =
        gtk_message_dialog_new(nullptr, GtkDialogFlags(0), GTK_MESSAGE_INFO, GTK_BUTTONS_NONE, "%s", text.c_str());
    gtk_dialog_add_buttons(GTK_DIALOG(box), "Later", GTK_RESPONSE_CANCEL, "Download", GTK_RESPONSE_ACCEPT, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_ACCEPT);
    present(box, downloadPage);
}

void UpdaterDialogLinux::showMessage(const std::string& text)
{
    present(gtk_message_dialog_new(nullptr, GtkDialogFlags(0), GTK_MESSAGE_INFO, GTK_BUTTONS_OK, "%s", text.c_str()),
            std::string());
}

void UpdaterDialogLinux::present(GtkWidget* box, const std::string& downloadPage)
{
    gtk_window_set_title(GTK_WINDOW(box), kTitle);
    OpenBox& open = m_open[box];
    open.downloadPage = downloadPage;
    open.responseHandler = g_signal_connect(box, "response", G_CALLBACK(&UpdaterDialogLinux::onResponse), this);
    gtk_widget_show_all(box);
}

void UpdaterDialogLinux::onResponse(GtkDialog* box, gint response, gpointer self)
{
    auto* dialog = static_cast<UpdaterDialogLinux*>(self);
    guardCallback("ferrovan::UpdaterDialogLinux::onResponse", [&] {
        const auto found = dialog->m_open.find(GTK_WIDGET(box));
        if (found == dialog->m_open.end())
            return;
        const std::string page = found->second.downloadPage;
        dialog->m_open.erase(found);
        gtk_widget_destroy(GTK_WIDGET(box));
        if (response == GTK_RESPONSE_ACCEPT && !page.empty())
            dialog->m_opener(page);
    });
}

std::unique_ptr<IUpdaterDialog> createUpdaterDialog()
{
    return std::make_unique<UpdaterDialogLinux>();
}

} // namespace ferrovan
