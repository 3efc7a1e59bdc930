#include "app/browser/RecordingMenuCallback.h"
#include "support/gui/GtkDriver.h"
#include "support/gui/MainContextWait.h"

#include "browser/RootWindowMenu.h"
#include "browser/linux/MenuBarViewLinux.h"

#include <Poco/Any.h>

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

using ferrovan::MenuBarViewLinux;
using ferrovan::RootWindowMenu;
using fv_test::GtkDriver;
using fv_test::RecordingMenuCallback;

namespace {

std::vector<GtkWidget*> childrenOf(GtkWidget* shell)
{
    std::vector<GtkWidget*> children;
    GList* list = gtk_container_get_children(GTK_CONTAINER(shell));
    for (GList* child = list; child != nullptr; child = child->next)
        children.push_back(GTK_WIDGET(child->data));
    g_list_free(list);
    return children;
}

GtkLabel* labelOf(GtkWidget* item)
{
    return GTK_LABEL(gtk_bin_get_child(GTK_BIN(item)));
}

// An item as the bar holds it: its label as GTK writes it, "[ ] " or "[x] " before a check
// item's, "---" for a separator.
std::string describe(GtkWidget* item)
{
    if (GTK_IS_SEPARATOR_MENU_ITEM(item))
        return "---";
    std::string text = gtk_label_get_label(labelOf(item));
    if (GTK_IS_CHECK_MENU_ITEM(item))
        text = (gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item)) ? "[x] " : "[ ] ") + text;
    return text;
}

std::vector<std::string> describeAll(const std::vector<GtkWidget*>& items)
{
    std::vector<std::string> texts;
    for (GtkWidget* item : items)
        texts.push_back(describe(item));
    return texts;
}

// The main window's layout: the bar first in a vertical box.
class MenuWindow {
public:
    explicit MenuWindow(GtkWidget* bar) : m_window(gtk_window_new(GTK_WINDOW_TOPLEVEL))
    {
        g_object_ref_sink(m_window);
        gtk_window_set_title(GTK_WINDOW(m_window), "Menu test");
        GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_box_pack_start(GTK_BOX(column), bar, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(column), gtk_label_new("page"), TRUE, TRUE, 0);
        gtk_container_add(GTK_CONTAINER(m_window), column);
        gtk_widget_show_all(m_window);
    }
    ~MenuWindow()
    {
        destroy();
        g_object_unref(m_window);
    }
    MenuWindow(const MenuWindow&) = delete;
    MenuWindow& operator=(const MenuWindow&) = delete;

    GtkWindow* window() const { return GTK_WINDOW(m_window); }
    void destroy() { gtk_widget_destroy(m_window); }
    bool waitMapped() const
    {
        return fv_test::runMainContextUntil([this] { return gtk_widget_get_mapped(m_window) != FALSE; });
    }

private:
    GtkWidget* m_window;
};

class RootWindowMenuLinux : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(GtkDriver::startGtk());
        m_bar = static_cast<GtkWidget*>(m_menu->createMenuBar());
        ASSERT_TRUE(GTK_IS_MENU_BAR(m_bar));
        m_window = std::make_unique<MenuWindow>(m_bar);
        const std::vector<GtkWidget*> top = childrenOf(m_bar);
        ASSERT_EQ(2u, top.size());
        m_file = top[0];
        m_help = top[1];
    }
    void TearDown() override
    {
        m_window.reset();
        m_menu.reset();
    }

    static std::vector<GtkWidget*> itemsOf(GtkWidget* top)
    {
        return childrenOf(gtk_menu_item_get_submenu(GTK_MENU_ITEM(top)));
    }

    RecordingMenuCallback m_callback;
    std::unique_ptr<RootWindowMenu> m_menu = std::make_unique<RootWindowMenu>(m_callback);
    GtkWidget* m_bar = nullptr;
    std::unique_ptr<MenuWindow> m_window;
    GtkWidget* m_file = nullptr;
    GtkWidget* m_help = nullptr;
};

TEST_F(RootWindowMenuLinux, TheBarShowsBothMenusWithTheirItemsSeparatorsAndAccessKeys)
{
    EXPECT_EQ((std::vector<std::string>{"_File", "_Help"}), describeAll({m_file, m_help}));
    EXPECT_EQ((std::vector<std::string>{"Send Files", "Share Files", "---", "Check For Updates...", "---", "E_xit"}),
              describeAll(itemsOf(m_file)));
    EXPECT_EQ(
        (std::vector<std::string>{"Clear App Data And Restart...", "Open Logs in Explorer",
                                  "[ ] Enable Verbose Logging", "Submit App Logs...", "---", "About Ferrovan..."}),
        describeAll(itemsOf(m_help)));

    const std::vector<std::pair<GtkWidget*, guint>> keys = {
        {m_file, GDK_KEY_f}, {m_help, GDK_KEY_h}, {itemsOf(m_file)[5], GDK_KEY_x}};
    for (const auto& key : keys) {
        SCOPED_TRACE(describe(key.first));
        EXPECT_TRUE(gtk_label_get_use_underline(labelOf(key.first)));
        EXPECT_EQ(key.second, gtk_label_get_mnemonic_keyval(labelOf(key.first)));
    }
    // What the label shows: the access key's mark is not drawn.
    EXPECT_STREQ("Exit", gtk_label_get_text(labelOf(itemsOf(m_file)[5])));
}

TEST_F(RootWindowMenuLinux, ActivatingEachItemPassesItsKind)
{
    for (GtkWidget* top : {m_file, m_help})
        for (GtkWidget* item : itemsOf(top))
            if (!GTK_IS_SEPARATOR_MENU_ITEM(item))
                gtk_menu_item_activate(GTK_MENU_ITEM(item));
    EXPECT_EQ((std::vector<std::string>{"1", "2", "3", "0", "4", "5", "6 true", "7", "8"}), m_callback.calls);
}

TEST_F(RootWindowMenuLinux, TheVerboseItemPassesTrueThenFalseAndShowsTheSameState)
{
    GtkWidget* verbose = itemsOf(m_help)[2];
    gtk_menu_item_activate(GTK_MENU_ITEM(verbose));
    EXPECT_EQ("[x] Enable Verbose Logging", describe(verbose));
    gtk_menu_item_activate(GTK_MENU_ITEM(verbose));
    EXPECT_EQ("[ ] Enable Verbose Logging", describe(verbose));
    EXPECT_EQ((std::vector<std::string>{"6 true", "6 false"}), m_callback.calls);
}

TEST_F(RootWindowMenuLinux, AltAndTheAccessKeyOpensItsMenu)
{
    ASSERT_TRUE(m_window->waitMapped());
    const std::vector<std::pair<guint, GtkWidget*>> cases = {{GDK_KEY_f, m_file}, {GDK_KEY_h, m_help}};
    for (const auto& c : cases) {
        SCOPED_TRACE(describe(c.second));
        EXPECT_TRUE(gtk_window_mnemonic_activate(m_window->window(), c.first, GDK_MOD1_MASK));
        EXPECT_EQ(c.second, gtk_menu_shell_get_selected_item(GTK_MENU_SHELL(m_bar)));
        gtk_menu_shell_deactivate(GTK_MENU_SHELL(m_bar));
    }
}

GdkRGBA rgba(std::uint32_t argb)
{
    return GdkRGBA{((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0, (argb & 0xFF) / 255.0, 1.0};
}

::testing::AssertionResult sameColour(const GdkRGBA& expected, const GdkRGBA& actual)
{
    if (gdk_rgba_equal(&expected, &actual))
        return ::testing::AssertionSuccess();
    gchar* want = gdk_rgba_to_string(&expected);
    gchar* got = gdk_rgba_to_string(&actual);
    auto failure = ::testing::AssertionFailure() << "expected " << want << ", got " << got;
    g_free(want);
    g_free(got);
    return failure;
}

GdkRGBA backgroundOf(GtkWidget* widget, GtkStateFlags state)
{
    GdkRGBA* colour = nullptr;
    gtk_style_context_get(gtk_widget_get_style_context(widget), state, GTK_STYLE_PROPERTY_BACKGROUND_COLOR, &colour,
                          nullptr);
    const GdkRGBA copy = *colour;
    gdk_rgba_free(colour);
    return copy;
}

GdkRGBA textOf(GtkWidget* widget, GtkStateFlags state)
{
    GdkRGBA colour{};
    gtk_style_context_get_color(gtk_widget_get_style_context(widget), state, &colour);
    return colour;
}

TEST_F(RootWindowMenuLinux, TheBarAndItsMenusTakeTheBaseTextAndAccentColours)
{
    const ferrovan::MenuColours& colours = ferrovan::WindowMenuBarBase::colours();
    GtkWidget* fileMenu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(m_file));
    EXPECT_TRUE(sameColour(rgba(colours.base), backgroundOf(m_bar, GTK_STATE_FLAG_NORMAL)));
    EXPECT_TRUE(sameColour(rgba(colours.base), backgroundOf(fileMenu, GTK_STATE_FLAG_NORMAL)));
    EXPECT_TRUE(sameColour(rgba(colours.text), textOf(GTK_WIDGET(labelOf(m_file)), GTK_STATE_FLAG_NORMAL)));
    EXPECT_TRUE(sameColour(rgba(colours.accent), backgroundOf(m_file, GTK_STATE_FLAG_PRELIGHT)));
    GtkWidget* exit = itemsOf(m_file)[5];
    EXPECT_TRUE(sameColour(rgba(colours.text), textOf(GTK_WIDGET(labelOf(exit)), GTK_STATE_FLAG_NORMAL)));
    EXPECT_TRUE(sameColour(rgba(colours.accent), backgroundOf(exit, GTK_STATE_FLAG_PRELIGHT)));
}

TEST(MenuBarStyleSheet, ParsesWithoutError)
{
    ASSERT_TRUE(GtkDriver::startGtk());
    GtkCssProvider* provider = gtk_css_provider_new();
    GError* error = nullptr;
    const std::string css = MenuBarViewLinux::styleSheet(ferrovan::WindowMenuBarBase::colours());
    EXPECT_TRUE(gtk_css_provider_load_from_data(provider, css.c_str(), -1, &error))
        << (error != nullptr ? error->message : "");
    g_clear_error(&error);
    g_object_unref(provider);
}

// The window may end before the menu or after it; once the menu has ended, its items do nothing.
TEST_F(RootWindowMenuLinux, ItemsOutlivingTheMenuDoNothingAndEitherMayEndFirst)
{
    GtkWidget* exit = itemsOf(m_file)[5];
    g_object_ref(exit);
    m_menu.reset();
    gtk_menu_item_activate(GTK_MENU_ITEM(exit));
    EXPECT_TRUE(m_callback.calls.empty());
    g_object_unref(exit);

    RootWindowMenu second(m_callback);
    {
        MenuWindow window(static_cast<GtkWidget*>(second.createMenuBar()));
        EXPECT_EQ(second.createMenuBar(), second.createMenuBar());
    }
    // The window and its bar are gone; the menu ends after them.
}

} // namespace
