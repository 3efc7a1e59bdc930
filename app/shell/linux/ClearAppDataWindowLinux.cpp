#include "shell/linux/ClearAppDataWindowLinux.h"

#include "shell/linux/GtkWindows.h"

namespace ferrovan {

namespace {

struct Box {
    const char* text;
    int bit;
};

// In the order shown; the texts keep their leading blank.
const Box kBoxes[] = {
    {" Local Transfers Database", IClearAppDataWindow::kLocalTransfersDatabase},
    {" Web data and Cache (Cookies, Cache and Local storage data)", IClearAppDataWindow::kWebDataAndCache},
    {" Log files", IClearAppDataWindow::kLogFiles},
    {" Local Settings (window size and position, auto update settings)", IClearAppDataWindow::kLocalSettings},
};

} // namespace

std::unique_ptr<IClearAppDataWindow> createClearAppDataWindow(IClearAppDataWindow::ICallback* callback,
                                                              INativeUiDataHolder* parent)
{
    return std::make_unique<ClearAppDataWindowLinux>(callback, parent);
}

ClearAppDataWindowLinux::ClearAppDataWindowLinux(ICallback* callback, INativeUiDataHolder* parent)
    : FvDialogLinuxBase(parent, "Clear App Data And Restart"), m_callback(callback)
{
}

void ClearAppDataWindowLinux::onInitDialog(GtkDialog* dialog)
{
    // No close button in the frame; Escape still cancels.
    gtk_window_set_deletable(GTK_WINDOW(dialog), FALSE);
    gtk_dialog_add_buttons(dialog, "_OK", GTK_RESPONSE_OK, "_Cancel", GTK_RESPONSE_CANCEL, nullptr);
    gtk_dialog_set_default_response(dialog, GTK_RESPONSE_OK);

    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_container_set_border_width(GTK_CONTAINER(column), 12);
    gtk_box_pack_start(GTK_BOX(column), leftAlignedLabel("Please select type of data to clear:"), FALSE, FALSE, 0);
    for (std::size_t i = 0; i < m_boxes.size(); ++i) {
        m_boxes[i] = gtk_check_button_new_with_label(kBoxes[i].text);
        gtk_box_pack_start(GTK_BOX(column), m_boxes[i], FALSE, FALSE, 0);
    }
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(dialog)), column, TRUE, TRUE, 0);
    gtk_widget_show_all(column);
}

bool ClearAppDataWindowLinux::onOk()
{
    // Read anew on each OK: after a declined confirmation the user may have changed the boxes.
    return m_callback != nullptr ? m_callback->onClearAppData(checkedBits()) : true;
}

int ClearAppDataWindowLinux::checkedBits() const
{
    int bits = 0;
    for (std::size_t i = 0; i < m_boxes.size(); ++i)
        if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(m_boxes[i])))
            bits |= kBoxes[i].bit;
    return bits;
}

} // namespace ferrovan
