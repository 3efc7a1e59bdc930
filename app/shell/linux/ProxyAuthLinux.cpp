#include "shell/linux/ProxyAuthLinux.h"

#include "shell/linux/GtkWindows.h"

namespace ferrovan {

namespace {

GtkWidget* addRow(GtkGrid* grid, int row, const char* caption, GtkWidget* value)
{
    GtkWidget* label = gtk_label_new(caption);
    gtk_widget_set_halign(label, GTK_ALIGN_END);
    gtk_grid_attach(grid, label, 0, row, 1, 1);
    gtk_widget_set_hexpand(value, TRUE);
    gtk_grid_attach(grid, value, 1, row, 1, 1);
    return value;
}

GtkWidget* plainText(const std::string& text)
{
    GtkWidget* label = leftAlignedLabel(text);
    gtk_label_set_selectable(GTK_LABEL(label), TRUE);
    return label;
}

GtkWidget* entry(bool visible)
{
    GtkWidget* widget = gtk_entry_new();
    gtk_entry_set_visibility(GTK_ENTRY(widget), visible ? TRUE : FALSE);
    gtk_entry_set_activates_default(GTK_ENTRY(widget), TRUE);
    return widget;
}

} // namespace

std::unique_ptr<IProxyAuth> createProxyAuth()
{
    return std::make_unique<ProxyAuthLinux>();
}

bool ProxyAuthLinux::promptCredentials(INativeUiDataHolder* parent, const std::string& requestText1,
                                       const std::string& requestText2, std::string& user, std::string& password)
{
    OwnedToplevel dialog =
        ownToplevel(gtk_dialog_new_with_buttons("Proxy Authentication", gtkWindowOf(parent), GTK_DIALOG_MODAL,
                                                "_Cancel", GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_OK, nullptr));
    gtk_dialog_set_default_response(GTK_DIALOG(dialog.get()), GTK_RESPONSE_OK);

    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
    gtk_container_set_border_width(GTK_CONTAINER(grid), 12);
    gtk_grid_attach(GTK_GRID(grid), leftAlignedLabel("The Proxy Server requires authentication"), 0, 0, 2, 1);
    // The user sees which proxy asks before typing a password into it.
    addRow(GTK_GRID(grid), 1, "Host", plainText(requestText1));
    addRow(GTK_GRID(grid), 2, "Realm", plainText(requestText2));
    GtkWidget* userEntry = addRow(GTK_GRID(grid), 3, "User name", entry(true));
    GtkWidget* passwordEntry = addRow(GTK_GRID(grid), 4, "Password", entry(false));
    gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog.get()))), grid);
    gtk_widget_show_all(grid);

    if (gtk_dialog_run(GTK_DIALOG(dialog.get())) != GTK_RESPONSE_OK)
        return false;
    user = gtk_entry_get_text(GTK_ENTRY(userEntry));
    password = gtk_entry_get_text(GTK_ENTRY(passwordEntry));
    return true;
}

} // namespace ferrovan
