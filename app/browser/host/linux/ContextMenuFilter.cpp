#include "browser/host/linux/ContextMenuFilter.h"

#include <algorithm>
#include <vector>

namespace ferrovan {

namespace {

bool isRemoved(WebKitContextMenuAction action, bool developerExtras)
{
    static const WebKitContextMenuAction removed[] = {
        WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW,  WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK,
        WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW, WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK,
        WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW, WEBKIT_CONTEXT_MENU_ACTION_OPEN_VIDEO_IN_NEW_WINDOW,
        WEBKIT_CONTEXT_MENU_ACTION_OPEN_AUDIO_IN_NEW_WINDOW, WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_VIDEO_TO_DISK,
        WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_AUDIO_TO_DISK,
    };
    if (action == WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT)
        return !developerExtras;
    return std::find(std::begin(removed), std::end(removed), action) != std::end(removed);
}

} // namespace

void filterContextMenu(WebKitContextMenu* menu, bool developerExtras)
{
    std::vector<WebKitContextMenuItem*> doomed;
    for (GList* item = webkit_context_menu_get_items(menu); item != nullptr; item = item->next) {
        auto* entry = WEBKIT_CONTEXT_MENU_ITEM(item->data);
        if (isRemoved(webkit_context_menu_item_get_stock_action(entry), developerExtras))
            doomed.push_back(entry);
    }
    // Removed after the walk: the list is the menu's own.
    for (WebKitContextMenuItem* entry : doomed)
        webkit_context_menu_remove(menu, entry);
}

} // namespace ferrovan
