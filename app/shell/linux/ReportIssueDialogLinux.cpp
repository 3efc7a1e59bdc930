#include "shell/linux/ReportIssueDialogLinux.h"

#include "shell/linux/GtkWindows.h"

#include <utility>

namespace ferrovan {

std::unique_ptr<IReportIssueDialog> createReportIssueDialog(IReportIssueDialog::ICallback* callback,
                                                            INativeUiDataHolder* parent)
{
    return std::make_unique<ReportIssueDialogLinux>(callback, parent);
}

ReportIssueDialogLinux::ReportIssueDialogLinux(ICallback* callback, INativeUiDataHolder* parent)
    : FvDialogLinuxBase(parent, "Submit app logs"), m_callback(callback)
{
}

void ReportIssueDialogLinux::onInitDialog(GtkDialog* dialog)
{
    gtk_dialog_add_buttons(dialog, "_Submit", GTK_RESPONSE_OK, "_Cancel", GTK_RESPONSE_CANCEL, nullptr);
    gtk_dialog_set_default_response(dialog, GTK_RESPONSE_OK);
    gtk_dialog_set_response_sensitive(dialog, GTK_RESPONSE_OK, FALSE);

    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_container_set_border_width(GTK_CONTAINER(column), 12);
    GtkWidget* intro =
        leftAlignedLabel("Please provide detailed description of the problem to help Ferrovan team diagnose the issue");
    gtk_label_set_line_wrap(GTK_LABEL(intro), TRUE);
    gtk_box_pack_start(GTK_BOX(column), intro, FALSE, FALSE, 0);
    for (auto field : {std::make_pair("User name", &m_userName), std::make_pair("E-mail", &m_email),
                       std::make_pair("Summary", &m_summary)}) {
        *field.second = gtk_entry_new();
        g_signal_connect_swapped(*field.second, "changed", G_CALLBACK(onFieldChanged), this);
        gtk_box_pack_start(GTK_BOX(column), leftAlignedLabel(field.first), FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(column), *field.second, FALSE, FALSE, 0);
    }

    GtkWidget* view = gtk_text_view_new();
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
    m_description = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
    g_signal_connect_swapped(m_description, "changed", G_CALLBACK(onFieldChanged), this);
    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
    gtk_widget_set_size_request(scrolled, 520, 240);
    gtk_widget_set_vexpand(scrolled, TRUE);
    gtk_container_add(GTK_CONTAINER(scrolled), view);
    gtk_box_pack_start(GTK_BOX(column), leftAlignedLabel("Description"), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(column), scrolled, TRUE, TRUE, 0);

    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(dialog)), column, TRUE, TRUE, 0);
    gtk_widget_show_all(column);
}

bool ReportIssueDialogLinux::onOk()
{
    // Submit is insensitive until then, but a response can still be sent to the dialog.
    if (!complete())
        return false;
    if (m_callback != nullptr)
        m_callback->onReportSubmitted(gtk_entry_get_text(GTK_ENTRY(m_userName)), gtk_entry_get_text(GTK_ENTRY(m_email)),
                                      gtk_entry_get_text(GTK_ENTRY(m_summary)), description());
    return true;
}

void ReportIssueDialogLinux::onFieldChanged(gpointer self)
{
    auto* dialog = static_cast<ReportIssueDialogLinux*>(self);
    if (void* window = dialog->getNativeWindow())
        gtk_dialog_set_response_sensitive(GTK_DIALOG(window), GTK_RESPONSE_OK, dialog->complete() ? TRUE : FALSE);
}

std::string ReportIssueDialogLinux::description() const
{
    return textOf(m_description);
}

bool ReportIssueDialogLinux::complete() const
{
    return gtk_entry_get_text_length(GTK_ENTRY(m_userName)) > 0 && gtk_entry_get_text_length(GTK_ENTRY(m_email)) > 0 &&
           gtk_entry_get_text_length(GTK_ENTRY(m_summary)) > 0 && gtk_text_buffer_get_char_count(m_description) > 0;
}

} // namespace ferrovan
