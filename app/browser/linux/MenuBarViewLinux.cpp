#include "browser/linux/MenuBarViewLinux.h"

#include "shell/ExceptionText.h"
#include "shell/FerrovanLogger.h"
#include "shell/Logger.h"

#include <cstdio>

namespace ferrovan {

namespace {

// The key under which a screen keeps the style sheet, so that many bars add it once.
const char* const kStyleKey = "ferrovan-menu-style";

std::string cssColour(std::uint32_t argb)
{
    // The colours are opaque: the alpha byte is left out.
    char text[8];
    std::snprintf(text, sizeof text, "#%06x", static_cast<unsigned>(argb & 0xFFFFFF));
    return text;
}

// The style classes here are kBarClass and kMenuClass. An open top item is hovered, so it shows
// the accent too.
const char* const kStyleRules = R"(
menubar.ferrovan-menu-bar { background-color: @ferrovan_menu_base; background-image: none; }
menubar.ferrovan-menu-bar > menuitem { color: @ferrovan_menu_text; }
menubar.ferrovan-menu-bar > menuitem:hover { background-color: @ferrovan_menu_accent; color: @ferrovan_menu_text; }
menubar.ferrovan-menu-bar > menuitem:disabled { color: @ferrovan_menu_accent; }
menu.ferrovan-menu { background-color: @ferrovan_menu_base; background-image: none; color: @ferrovan_menu_text; }
menu.ferrovan-menu menuitem { color: @ferrovan_menu_text; }
menu.ferrovan-menu menuitem:hover { background-color: @ferrovan_menu_accent; color: @ferrovan_menu_text; }
menu.ferrovan-menu menuitem accelerator { color: @ferrovan_menu_accent; }
menu.ferrovan-menu menuitem:hover accelerator { color: @ferrovan_menu_text; }
)";

void useStyleSheet(GdkScreen* screen)
{
    if (screen == nullptr || g_object_get_data(G_OBJECT(screen), kStyleKey) != nullptr)
        return;
    GtkCssProvider* provider = gtk_css_provider_new();
    GError* error = nullptr;
    const std::string css = MenuBarViewLinux::styleSheet(WindowMenuBarBase::colours());
    if (!gtk_css_provider_load_from_data(provider, css.c_str(), -1, &error)) {
        logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_ERROR,
                std::string("ferrovan::MenuBarViewLinux::MenuBarViewLinux: The menu colours are not usable: ") +
                    error->message);
        g_error_free(error);
    }
    gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(provider),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_set_data_full(G_OBJECT(screen), kStyleKey, provider, g_object_unref);
}

void addStyleClass(GtkWidget* widget, const char* name)
{
    gtk_style_context_add_class(gtk_widget_get_style_context(widget), name);
}

} // namespace

std::unique_ptr<IMenuBarView> createMenuBarView(WindowMenuBarBase& model)
{
    return std::make_unique<MenuBarViewLinux>(model);
}

MenuBarViewLinux::MenuBarViewLinux(WindowMenuBarBase& model) : m_model(model), m_bar(gtk_menu_bar_new())
{
    g_object_ref_sink(m_bar);
    addStyleClass(m_bar, kBarClass);
    useStyleSheet(gtk_widget_get_screen(m_bar));
    for (const WindowMenuBarBase::Menu& menu : m_model.menus())
        gtk_menu_shell_append(GTK_MENU_SHELL(m_bar), buildMenu(menu));
    gtk_widget_show_all(m_bar);
}

MenuBarViewLinux::~MenuBarViewLinux()
{
    // The window may have destroyed the bar already; the references keep the items to disconnect.
    for (const auto& binding : m_bindings) {
        g_signal_handlers_disconnect_by_data(binding->item, binding.get());
        g_object_unref(binding->item);
    }
    g_object_unref(m_bar);
}

std::string MenuBarViewLinux::mnemonicLabel(const std::string& label)
{
    std::string converted;
    for (std::size_t i = 0; i < label.size(); ++i) {
        const char c = label[i];
        if (c == '_') {
            converted += "__";
        } else if (c != '&') {
            converted += c;
        } else if (i + 1 < label.size() && label[i + 1] == '&') {
            converted += '&';
            ++i;
        } else if (i + 1 < label.size()) {
            converted += '_';
        }
    }
    return converted;
}

std::string MenuBarViewLinux::styleSheet(const MenuColours& colours)
{
    return "@define-color ferrovan_menu_base " + cssColour(colours.base) + ";\n" +
           "@define-color ferrovan_menu_accent " + cssColour(colours.accent) + ";\n" +
           "@define-color ferrovan_menu_text " + cssColour(colours.text) + ";\n" + kStyleRules;
}

GtkWidget* MenuBarViewLinux::buildMenu(const WindowMenuBarBase::Menu& menu)
{
    GtkWidget* top = gtk_menu_item_new_with_mnemonic(mnemonicLabel(menu.label).c_str());
    GtkWidget* popup = gtk_menu_new();
    addStyleClass(popup, kMenuClass);
    for (const WindowMenuBarBase::Item& item : menu.items)
        gtk_menu_shell_append(GTK_MENU_SHELL(popup), buildItem(menu.index, item));
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(top), popup);
    return top;
}

GtkWidget* MenuBarViewLinux::buildItem(int menuIndex, const WindowMenuBarBase::Item& item)
{
    if (item.type == WindowMenuBarBase::ItemType::Separator)
        return gtk_separator_menu_item_new();
    const std::string label = mnemonicLabel(item.label);
    GtkWidget* widget = nullptr;
    if (item.type == WindowMenuBarBase::ItemType::Check) {
        widget = gtk_check_menu_item_new_with_mnemonic(label.c_str());
        // GTK flips the mark itself on activation, as the model does.
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(widget), item.checked);
    } else {
        widget = gtk_menu_item_new_with_mnemonic(label.c_str());
    }
    m_bindings.push_back(std::make_unique<Binding>(Binding{this, menuIndex, item.commandId, widget}));
    g_object_ref(widget);
    g_signal_connect(widget, "activate", G_CALLBACK(&MenuBarViewLinux::onActivate), m_bindings.back().get());
    return widget;
}

void MenuBarViewLinux::onActivate(GtkMenuItem*, gpointer data)
{
    const auto* binding = static_cast<const Binding*>(data);
    guardCallback("ferrovan::MenuBarViewLinux::onActivate",
                  [binding] { binding->view->m_model.executeCommand(binding->menuIndex, binding->commandId); });
}

} // namespace ferrovan
