#include "linux/OstrelMenuProviderLinux.h"

#include "OstrelMenu.h"
#include "linux/HandoffCallLinux.h"

#include <memory>

namespace ferrovan::ostrel {

namespace {

struct OstrelMenuProvider {
    GObject parent;
};

struct OstrelMenuProviderClass {
    GObjectClass parentClass;
};

GType g_providerType = G_TYPE_INVALID;

// What an item's activation sends; each item owns its own copy, freed with the item.
struct ItemCall {
    std::string method;
    std::vector<std::string> paths;
};

void onActivate(NautilusMenuItem*, gpointer data)
{
    const auto* call = static_cast<const ItemCall*>(data);
    CHandoffCallLinux::start(call->method, call->paths);
}

void freeItemCall(gpointer data, GClosure*)
{
    delete static_cast<ItemCall*>(data);
}

SelectedPaths localPathsOf(GList* files)
{
    SelectedPaths selection;
    for (GList* node = files; node; node = node->next) {
        g_autoptr(GFile) location = nautilus_file_info_get_location(NAUTILUS_FILE_INFO(node->data));
        g_autofree char* path = location ? g_file_get_path(location) : nullptr;
        if (path)
            selection.emplace_back(path);
        else
            selection.emplace_back(std::nullopt);
    }
    return selection;
}

NautilusMenuItem* menuItemFor(OstrelMenuItem& item)
{
    NautilusMenuItem* menuItem = nautilus_menu_item_new(item.name.c_str(), item.label.c_str(),
                                                        item.tip.empty() ? nullptr : item.tip.c_str(), nullptr);
    auto call = std::make_unique<ItemCall>(ItemCall{std::move(item.method), std::move(item.paths)});
    g_signal_connect_data(menuItem, "activate", G_CALLBACK(onActivate), call.release(), freeItemCall, GConnectFlags(0));
    return menuItem;
}

GList* getFileItems(NautilusMenuProvider*, GList* files)
{
    OstrelMenuOffer offer = OstrelMenu::itemsFor(localPathsOf(files));
    if (!offer.refusal.empty())
        g_debug("%s", offer.refusal.c_str());
    GList* items = nullptr;
    for (auto& item : offer.items)
        items = g_list_append(items, menuItemFor(item));
    return items;
}

void initMenuProvider(gpointer iface, gpointer)
{
    static_cast<NautilusMenuProviderInterface*>(iface)->get_file_items = getFileItems;
}

} // namespace

void COstrelMenuProviderLinux::registerType(GTypeModule* module)
{
    GTypeInfo info{};
    info.class_size = sizeof(OstrelMenuProviderClass);
    info.instance_size = sizeof(OstrelMenuProvider);
    g_providerType =
        g_type_module_register_type(module, G_TYPE_OBJECT, "FerrovanOstrelMenuProvider", &info, GTypeFlags(0));
    GInterfaceInfo menuProvider{};
    menuProvider.interface_init = initMenuProvider;
    g_type_module_add_interface(module, g_providerType, NAUTILUS_TYPE_MENU_PROVIDER, &menuProvider);
}

GType COstrelMenuProviderLinux::type()
{
    return g_providerType;
}

} // namespace ferrovan::ostrel
