#pragma once

#include <gtk/gtk.h>

#include <string>
#include <vector>

namespace ferrovan {

// Runs a GtkFileChooserNative for local items, modal over `parent` (none when null), and appends
// the chosen items' URLs to `urls`. True only for a confirmed choice whose every path became a
// URL; otherwise `urls` is left as it was.
bool chooseLocalItems(GtkWindow* parent, const std::string& title, GtkFileChooserAction action,
                      std::vector<std::string>& urls);

} // namespace ferrovan
