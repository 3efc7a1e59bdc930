#include "shell/linux/ClipboardLinux.h"

#include "shell/FerrovanLogger.h"

#include <gtk/gtk.h>

#include <climits>

namespace ferrovan {

bool ClipboardLinux::copy(const std::string& text)
{
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr) {
        logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_ERROR,
                "ferrovan::ClipboardLinux::copy: no display to copy to");
        return false;
    }
    if (text.size() > INT_MAX || !g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
        logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_ERROR,
                "ferrovan::ClipboardLinux::copy: the text is not UTF-8");
        return false;
    }
    GtkClipboard* clipboard = gtk_clipboard_get_for_display(display, GDK_SELECTION_CLIPBOARD);
    gtk_clipboard_set_text(clipboard, text.data(), static_cast<gint>(text.size()));
    gtk_clipboard_store(clipboard);
    return true;
}

std::unique_ptr<IClipboard> createClipboard()
{
    return std::make_unique<ClipboardLinux>();
}

} // namespace ferrovan
