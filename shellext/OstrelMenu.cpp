#include "OstrelMenu.h"

#include <glib.h>

#include <algorithm>

namespace ferrovan::ostrel {

namespace {

// GLib's own check, the one the bus applies to every string it carries.
bool isBusString(const std::string& text)
{
    return g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr);
}

} // namespace

OstrelMenuOffer OstrelMenu::itemsFor(const SelectedPaths& selection)
{
    OstrelMenuOffer offer;
    if (selection.empty())
        return offer;
    if (std::any_of(selection.begin(), selection.end(), [](const auto& path) { return !path; })) {
        offer.refusal = "Ostrel offers nothing: a selected item has no local path";
        return offer;
    }
    std::vector<std::string> paths;
    paths.reserve(selection.size());
    for (const auto& path : selection) {
        if (!isBusString(*path)) {
            offer.refusal = "Ostrel offers nothing: a selected name is not UTF-8";
            return offer;
        }
        paths.push_back(*path);
    }
    offer.items.push_back({"Ostrel::Send", "Send with Ferrovan v4", "Ferrovan v4", "Send", paths});
    offer.items.push_back({"Ostrel::Share", "Share with Ferrovan v4", "", "Share", std::move(paths)});
    return offer;
}

} // namespace ferrovan::ostrel
