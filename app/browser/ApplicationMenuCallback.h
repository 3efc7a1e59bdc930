#pragma once

#include <Poco/Any.h>

namespace ferrovan {

// What a menu item asks of the program; the menu's command ids map to these. Stored nowhere,
// but kept in this order so the command table reads against them.
enum MenuItemKind {
    kExitItem = 0,
    kSendFilesItem = 1,
    kShareFilesItem = 2,
    kCheckForUpdatesItem = 3,
    kClearAppDataItem = 4,
    kOpenLogsItem = 5,
    kVerboseLoggingItem = 6,
    kSubmitLogsItem = 7,
    kAboutItem = 8,
};

// Carries out the main window's menu items. UI thread only.
class IApplicationMenuCallback {
public:
    virtual ~IApplicationMenuCallback() = default;
    // `argument` is empty for a plain item and holds a check item's new state (bool).
    virtual void onMenuItem(int kind, const Poco::Any& argument) = 0;
};

} // namespace ferrovan
