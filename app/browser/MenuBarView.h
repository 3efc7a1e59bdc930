#pragma once

#include <memory>

namespace ferrovan {

class WindowMenuBarBase;

// A menu bar drawn by the toolkit from a WindowMenuBarBase; an item chosen in it reaches the
// model's executeCommand. UI thread only.
class IMenuBarView {
public:
    virtual ~IMenuBarView() = default;
    // The bar for the window to pack (a GtkWidget* on Linux); it lives at least as long as the
    // view. Once the view has ended, the bar's items do nothing.
    virtual void* getNativeWidget() = 0;
};

// With the toolkit started. `model` is filled before and outlives the view.
std::unique_ptr<IMenuBarView> createMenuBarView(WindowMenuBarBase& model);

} // namespace ferrovan
