#include "shell/linux/IssueCreateProgressDialogLinux.h"

#include "AppConfig.h"

namespace ferrovan {

namespace {

constexpr guint kPulseIntervalMs = 100;

} // namespace

std::unique_ptr<IIssueCreateProgressDialog> createIssueCreateProgressDialog(INativeUiDataHolder* parent)
{
    return std::make_unique<IssueCreateProgressDialogLinux>(parent);
}

IssueCreateProgressDialogLinux::IssueCreateProgressDialogLinux(INativeUiDataHolder* parent)
    : FvDialogLinuxBase(parent, "Submitting app logs...")
{
}

void IssueCreateProgressDialogLinux::onInitDialog(GtkDialog* dialog)
{
    gtk_window_set_deletable(GTK_WINDOW(dialog), FALSE);
    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_container_set_border_width(GTK_CONTAINER(column), 18);
    gtk_box_pack_start(GTK_BOX(column), gtk_label_new("Please wait while " FV_PRODUCT_NAME " uploads app logs..."),
                       FALSE, FALSE, 0);
    GtkWidget* bar = gtk_progress_bar_new();
    gtk_box_pack_start(GTK_BOX(column), bar, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(dialog)), column, TRUE, TRUE, 0);
    gtk_widget_show_all(column);
    // The timer ends with the bar it pulses.
    const guint source = g_timeout_add(kPulseIntervalMs, pulse, bar);
    g_signal_connect_swapped(bar, "destroy", G_CALLBACK(stopPulsing), GUINT_TO_POINTER(source));
}

gboolean IssueCreateProgressDialogLinux::pulse(gpointer bar)
{
    gtk_progress_bar_pulse(GTK_PROGRESS_BAR(bar));
    return G_SOURCE_CONTINUE;
}

void IssueCreateProgressDialogLinux::stopPulsing(gpointer source)
{
    g_source_remove(GPOINTER_TO_UINT(source));
}

} // namespace ferrovan
