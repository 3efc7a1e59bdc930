#pragma once

#include "browser/MenuBarView.h"
#include "browser/WindowMenuBarBase.h"

#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

namespace ferrovan {

// The bar as a GtkMenuBar: one GtkMenuItem per menu with its GtkMenu, GtkCheckMenuItem for check
// items. GTK itself moves between the menus by keyboard and mouse (mirrored right to left) and
// opens a menu on its access key. The colours come from one style sheet on the screen, which
// reaches only widgets of the bar's and menus' own style classes.
class MenuBarViewLinux : public IMenuBarView {
public:
    static constexpr const char* kBarClass = "ferrovan-menu-bar";
    static constexpr const char* kMenuClass = "ferrovan-menu";

    explicit MenuBarViewLinux(WindowMenuBarBase& model);
    ~MenuBarViewLinux() override;
    MenuBarViewLinux(const MenuBarViewLinux&) = delete;
    MenuBarViewLinux& operator=(const MenuBarViewLinux&) = delete;

    void* getNativeWidget() override { return m_bar; }

    // A label with "&" marks as GTK writes it: "&" before the access key becomes "_", "&&" a
    // plain "&", and a literal "_" is doubled so that it is not taken for a mark.
    static std::string mnemonicLabel(const std::string& label);
    // The CSS that colours the bar and its menus.
    static std::string styleSheet(const MenuColours& colours);

private:
    // What an item's "activate" needs; owned here, so it outlives every connection.
    struct Binding {
        MenuBarViewLinux* view;
        int menuIndex;
        int commandId;
        GtkWidget* item; // referenced until the view ends
    };

    GtkWidget* buildMenu(const WindowMenuBarBase::Menu& menu);
    GtkWidget* buildItem(int menuIndex, const WindowMenuBarBase::Item& item);
    static void onActivate(GtkMenuItem* item, gpointer binding);

    WindowMenuBarBase& m_model;
    GtkWidget* m_bar; // referenced: it outlives the view's window if the view ends last
    std::vector<std::unique_ptr<Binding>> m_bindings;
};

} // namespace ferrovan
