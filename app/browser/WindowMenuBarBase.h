#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ferrovan {

// The colours of a menu bar and its menus, ARGB.
struct MenuColours {
    std::uint32_t base = 0;
    std::uint32_t accent = 0; // hovered items, accelerators
    std::uint32_t text = 0;
};

// A window's menu bar as data: its menus in bar order, their items, the access keys that open
// them, and what choosing an item does. A platform view (IMenuBarView) draws it and hands the
// chosen items back. Labels mark their access key with "&" and write a literal "&" as "&&".
// UI thread only.
class WindowMenuBarBase {
public:
    enum class ItemType { Plain, Check, Separator };

    struct Item {
        ItemType type = ItemType::Plain;
        int commandId = 0; // none for a separator
        std::string label;
        bool checked = false;
    };

    struct Menu {
        int index = 0;
        std::string label;
        std::vector<Item> items;
    };

    class ICallback {
    public:
        virtual ~ICallback() = default;
        // An item of `menu` was chosen; a check item already shows its new state.
        virtual void onMenuCommand(const Menu& menu, int commandId) = 0;
    };

    static constexpr std::uint32_t kBaseColour = 0xFF0B141F;

    // `callback` is borrowed and outlives the bar. Menu indexes count from `firstMenuIndex`.
    explicit WindowMenuBarBase(ICallback& callback, int firstMenuIndex = 0);

    // Appends a menu and gives its index.
    int createMenu(const std::string& label);
    // Append to the menu at `menuIndex`; an index the bar does not have throws std::out_of_range.
    void addItem(int menuIndex, int commandId, const std::string& label);
    void addCheckItem(int menuIndex, int commandId, const std::string& label);
    void addSeparator(int menuIndex);

    const std::vector<Menu>& menus() const { return m_menus; }
    // The index of the menu that `key` opens (either case), or -1.
    int menuForMnemonic(char key) const;
    // An item was chosen: a check item flips its mark, then the callback hears of it. An item
    // the menu does not have is ignored.
    void executeCommand(int menuIndex, int commandId);

    // The character after the first lone "&" of `label`, lower-cased; '\0' when there is none.
    static char mnemonicOf(const std::string& label);
    // The accent moves each channel of `base` by 75 towards the middle (above 126 down, else
    // up); the text inverts each channel. Every colour is opaque.
    static MenuColours coloursFor(std::uint32_t base);
    // The colours of kBaseColour, computed once.
    static const MenuColours& colours();

private:
    Menu* findMenu(int menuIndex);
    Menu& menuAt(int menuIndex);

    ICallback& m_callback;
    const int m_firstIndex;
    std::vector<Menu> m_menus;
    std::map<char, int> m_mnemonics;
};

} // namespace ferrovan
