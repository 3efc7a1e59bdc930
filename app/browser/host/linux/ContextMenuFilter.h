#pragma once

#include <webkit2/webkit2.h>

namespace ferrovan {

// Takes out of the view's context menu what would download, open another window, or (unless
// `developerExtras`) inspect the page.
void filterContextMenu(WebKitContextMenu* menu, bool developerExtras);

} // namespace ferrovan
