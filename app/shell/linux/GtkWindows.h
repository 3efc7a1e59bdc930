#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <string>

namespace ferrovan {

class INativeUiDataHolder;

// The GtkWindow behind `holder`; null for no holder or one without a window.
GtkWindow* gtkWindowOf(INativeUiDataHolder* holder);

// Ends a toplevel the shell made. The extra reference taken by OwnedToplevel keeps the object
// valid even when something else destroyed the window first (its parent going, say), so ending
// it twice is harmless.
struct ToplevelEnd {
    void operator()(GtkWidget* widget) const;
};

using OwnedToplevel = std::unique_ptr<GtkWidget, ToplevelEnd>;

// Takes a newly made toplevel.
OwnedToplevel ownToplevel(GtkWidget* widget);

// A label showing `text`, aligned to the start of the space it is given (GTK centres labels).
GtkWidget* leftAlignedLabel(const std::string& text);

// The whole text of a text view's buffer, UTF-8.
std::string textOf(GtkTextBuffer* buffer);

} // namespace ferrovan
