#pragma once

#include <gtk/gtk.h>

#include <memory>

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

} // namespace ferrovan
