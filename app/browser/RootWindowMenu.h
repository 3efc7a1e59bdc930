#pragma once

#include "browser/WindowMenuBarBase.h"

#include <initializer_list>
#include <memory>

namespace ferrovan {

class IApplicationMenuCallback;
class IMenuBarView;

// The main window's menus, "&File" and "&Help": each command id stands for one menu item kind
// of the application menu controller, which hears of every item chosen.
class RootWindowMenu : public WindowMenuBarBase::ICallback {
public:
    // In a menu's id list: a separator, never a command.
    static constexpr int kSeparatorId = 10001;

    struct Command {
        int id;
        int kind; // MenuItemKind
        bool check;
        const char* text;
    };

    // The menus are filled here; `callback` is borrowed and outlives the menu.
    explicit RootWindowMenu(IApplicationMenuCallback& callback);
    ~RootWindowMenu() override;
    RootWindowMenu(const RootWindowMenu&) = delete;
    RootWindowMenu& operator=(const RootWindowMenu&) = delete;

    // Draws the bar on the first call (the toolkit must be started) and gives its widget for
    // the window to pack first (IMenuBarView::getNativeWidget), the same one on every call.
    void* createMenuBar();

    WindowMenuBarBase& bar() { return m_bar; }

    // The table's entry for `id`; null for an id it does not have (the separator included).
    static const Command* findCommand(int id);

    // Passes the item's kind on; a check item's argument is its new state.
    void onMenuCommand(const WindowMenuBarBase::Menu& menu, int commandId) override;

private:
    void addMenu(const char* label, std::initializer_list<int> ids);

    IApplicationMenuCallback& m_callback;
    WindowMenuBarBase m_bar;
    std::unique_ptr<IMenuBarView> m_view; // last: ends before the bar it draws
};

} // namespace ferrovan
