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

} // namespace ferrovan
