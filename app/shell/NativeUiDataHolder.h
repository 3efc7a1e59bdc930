#pragma once

namespace ferrovan {

// Anything that owns a native window another window can be placed over: the main window, each
// dialog. Callers pass it as a parent; the handle is opaque to portable code (a GtkWindow* on
// Linux).
class INativeUiDataHolder {
public:
    virtual ~INativeUiDataHolder() = default;
    // Null when there is no window (not yet created, or already destroyed).
    virtual void* getNativeWindow() = 0;
};

} // namespace ferrovan
