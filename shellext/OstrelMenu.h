#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ferrovan::ostrel {

// One entry the plug-in adds to the file manager's context menu, and the call it makes.
struct OstrelMenuItem {
    std::string name;
    std::string label;
    std::string tip; // empty: none
    std::string method;
    std::vector<std::string> paths;
};

// The selection in the file manager's order: each item's local path, or none for an item
// that has no local path (a remote location the system has not mounted locally).
using SelectedPaths = std::vector<std::optional<std::string>>;

struct OstrelMenuOffer {
    std::vector<OstrelMenuItem> items;
    // Why a non-empty selection gets no items; empty when it gets them.
    std::string refusal;
};

// Decides what the menu offers for a selection. The program opens local files only, and a
// bus string must be UTF-8, so a selection is offered whole or not at all.
class OstrelMenu {
public:
    static OstrelMenuOffer itemsFor(const SelectedPaths& selection);
};

} // namespace ferrovan::ostrel
