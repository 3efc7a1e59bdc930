#include "app/browser/RecordingMenuCallback.h"

#include "browser/RootWindowMenu.h"
#include "browser/WindowMenuBarBase.h"
#include "browser/linux/MenuBarViewLinux.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using ferrovan::MenuBarViewLinux;
using ferrovan::RootWindowMenu;
using ferrovan::WindowMenuBarBase;
using fv_test::RecordingMenuCallback;

namespace {

// Each command as its menu, its id, and " checked" for a check item then checked.
class RecordingBarCallback : public WindowMenuBarBase::ICallback {
public:
    void onMenuCommand(const WindowMenuBarBase::Menu& menu, int commandId) override
    {
        for (const WindowMenuBarBase::Item& item : menu.items)
            if (item.commandId == commandId)
                calls.push_back(menu.label + " " + std::to_string(commandId) + (item.checked ? " checked" : ""));
    }

    std::vector<std::string> calls;
};

struct ColourCase {
    const char* name;
    std::uint32_t base;
    std::uint32_t accent;
    std::uint32_t text;
};

TEST(MenuColours, TheAccentMovesEachChannelBy75TowardsTheMiddleAndTheTextInvertsIt)
{
    const ColourCase cases[] = {
        {"the bar's base", 0xFF0B141F, 0xFF565F6A, 0xFFF4EBE0},
        {"126 gains, 127 loses", 0xFF7E7F7E, 0xFFC934C9, 0xFF818081},
        {"the extremes", 0xFF00FFFF, 0xFF4BB4B4, 0xFFFF0000},
        {"a transparent base is made opaque", 0x000B141F, 0xFF565F6A, 0xFFF4EBE0},
    };
    for (const ColourCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ferrovan::MenuColours colours = WindowMenuBarBase::coloursFor(c.base);
        EXPECT_EQ(c.base | 0xFF000000, colours.base);
        EXPECT_EQ(c.accent, colours.accent);
        EXPECT_EQ(c.text, colours.text);
    }
    EXPECT_EQ(0xFF0B141Fu, WindowMenuBarBase::colours().base);
    EXPECT_EQ(0xFF565F6Au, WindowMenuBarBase::colours().accent);
}

struct LabelCase {
    const char* label;
    const char* gtkLabel;
    char mnemonic;
};

TEST(MenuLabels, AnAmpersandMarksTheAccessKeyAndTwoAreALiteralOne)
{
    const LabelCase cases[] = {
        {"E&xit", "E_xit", 'x'},
        {"&File", "_File", 'f'},
        {"a&&b", "a&b", '\0'},
        {"x_y", "x__y", '\0'},
        {"Send Files", "Send Files", '\0'},
        {"&&&Tools", "&_Tools", 't'},
        {"end&", "end", '\0'},
        {"", "", '\0'},
    };
    for (const LabelCase& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.gtkLabel, MenuBarViewLinux::mnemonicLabel(c.label));
        EXPECT_EQ(c.mnemonic, WindowMenuBarBase::mnemonicOf(c.label));
    }
}

TEST(WindowMenuBarBase, EachMenuOpensOnItsAccessKeyInEitherCase)
{
    RecordingBarCallback callback;
    WindowMenuBarBase bar(callback, 5);
    EXPECT_EQ(5, bar.createMenu("&File"));
    EXPECT_EQ(6, bar.createMenu("&Help"));
    EXPECT_EQ(7, bar.createMenu("Plain"));
    EXPECT_EQ(5, bar.menuForMnemonic('f'));
    EXPECT_EQ(5, bar.menuForMnemonic('F'));
    EXPECT_EQ(6, bar.menuForMnemonic('h'));
    EXPECT_EQ(-1, bar.menuForMnemonic('p'));
}

TEST(WindowMenuBarBase, AChosenCheckItemFlipsBeforeTheCallbackHearsOfItAndUnknownItemsAreIgnored)
{
    RecordingBarCallback callback;
    WindowMenuBarBase bar(callback);
    const int menu = bar.createMenu("&Help");
    bar.addItem(menu, 1, "Plain");
    bar.addSeparator(menu);
    bar.addCheckItem(menu, 2, "Check");

    bar.executeCommand(menu, 2);
    bar.executeCommand(menu, 1);
    bar.executeCommand(menu, 2);
    bar.executeCommand(menu, 0);     // the separator's
    bar.executeCommand(menu, 3);     // no such item
    bar.executeCommand(menu + 1, 1); // no such menu
    EXPECT_EQ((std::vector<std::string>{"&Help 2 checked", "&Help 1", "&Help 2"}), callback.calls);
    EXPECT_THROW(bar.addItem(menu + 1, 4, "Nowhere"), std::out_of_range);
}

// What the bar shows: an item's label, "[ ] " before a check item's, "---" for a separator.
std::vector<std::string> shown(const WindowMenuBarBase::Menu& menu)
{
    std::vector<std::string> items;
    for (const WindowMenuBarBase::Item& item : menu.items) {
        switch (item.type) {
        case WindowMenuBarBase::ItemType::Separator: items.push_back("---"); break;
        case WindowMenuBarBase::ItemType::Check: items.push_back("[ ] " + item.label); break;
        case WindowMenuBarBase::ItemType::Plain: items.push_back(item.label); break;
        }
    }
    return items;
}

TEST(RootWindowMenu, HasTheFileAndHelpMenusWithTheirItemsInOrder)
{
    RecordingMenuCallback callback;
    RootWindowMenu menu(callback);
    const auto& menus = menu.bar().menus();
    ASSERT_EQ(2u, menus.size());
    EXPECT_EQ("&File", menus[0].label);
    EXPECT_EQ((std::vector<std::string>{"Send Files", "Share Files", "---", "Check For Updates...", "---", "E&xit"}),
              shown(menus[0]));
    EXPECT_EQ("&Help", menus[1].label);
    EXPECT_EQ(
        (std::vector<std::string>{"Clear App Data And Restart...", "Open Logs in Explorer",
                                  "[ ] Enable Verbose Logging", "Submit App Logs...", "---", "About Ferrovan..."}),
        shown(menus[1]));
    EXPECT_EQ(menus[0].index, menu.bar().menuForMnemonic('f'));
    EXPECT_EQ(menus[1].index, menu.bar().menuForMnemonic('h'));
}

struct CommandCase {
    int id;
    int kind;
};

TEST(RootWindowMenu, EachCommandIdStandsForItsKindAndTheSeparatorForNone)
{
    const CommandCase cases[] = {{32500, 0}, {32501, 1}, {32502, 2}, {32503, 3}, {32700, 4},
                                 {32701, 5}, {32702, 6}, {32703, 7}, {32704, 8}};
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.id);
        const RootWindowMenu::Command* command = RootWindowMenu::findCommand(c.id);
        ASSERT_NE(nullptr, command);
        EXPECT_EQ(c.kind, command->kind);
        EXPECT_EQ(c.id == 32702, command->check);
    }
    EXPECT_EQ(nullptr, RootWindowMenu::findCommand(RootWindowMenu::kSeparatorId));
    EXPECT_EQ(nullptr, RootWindowMenu::findCommand(32505));
}

TEST(RootWindowMenu, ChoosingAnItemPassesItsKindAndAFlippedCheckItemItsNewState)
{
    RecordingMenuCallback callback;
    RootWindowMenu menu(callback);
    const int file = menu.bar().menus()[0].index;
    const int help = menu.bar().menus()[1].index;
    menu.bar().executeCommand(help, 32702);
    menu.bar().executeCommand(file, 32500);
    menu.bar().executeCommand(help, 32702);
    menu.bar().executeCommand(help, 32500); // not in that menu
    // An id the table lacks, as a view might report it.
    menu.onMenuCommand(menu.bar().menus()[0], 12345);
    EXPECT_EQ((std::vector<std::string>{"6 true", "0", "6 false"}), callback.calls);
}

} // namespace
