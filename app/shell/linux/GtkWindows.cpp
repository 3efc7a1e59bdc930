#include "shell/linux/GtkWindows.h"

#include "shell/NativeUiDataHolder.h"

namespace ferrovan {

GtkWindow* gtkWindowOf(INativeUiDataHolder* holder)
{
    if (holder == nullptr)
        return nullptr;
    void* window = holder->getNativeWindow();
    return window != nullptr ? GTK_WINDOW(window) : nullptr;
}

void ToplevelEnd::operator()(GtkWidget* widget) const
{
    gtk_widget_destroy(widget);
    g_object_unref(widget);
}

OwnedToplevel ownToplevel(GtkWidget* widget)
{
    return OwnedToplevel(GTK_WIDGET(g_object_ref(widget)));
}

GtkWidget* leftAlignedLabel(const std::string& text)
{
    GtkWidget* label = gtk_label_new(text.c_str());
    gtk_widget_set_halign(label, GTK_ALIGN_START);
    return label;
}

std::string textOf(GtkTextBuffer* buffer)
{
    GtkTextIter start;
    GtkTextIter end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
    std::string result(text);
    g_free(text);
    return result;
}

} // namespace ferrovan
