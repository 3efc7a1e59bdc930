#pragma once

#include "browser/host/linux/LocalSchemeHandlerLinux.h"
#include "shell/BrowserSettings.h"

#include <webkit2/webkit2.h>

#include <string>
#include <vector>

namespace ferrovan {

// What the program's web views share: where web data lives, the page processes' extension and
// what it is told, and the local pages' scheme.
struct WebContextConfig {
    BrowserSettings settings;
    // The page functions the extension defines, and the one origin that gets them.
    std::vector<std::string> bridgeNames;
    std::string webAppUrl;
    // Empty: webExtensionsDirectory().
    std::string extensionsDirectory;
    LocalResourceResolver localResources;
};

// One WebKit context, made on the UI thread before any view and alive until the last view
// made with it is gone.
class WebContextLinux {
public:
    explicit WebContextLinux(const WebContextConfig& config);
    ~WebContextLinux();
    WebContextLinux(const WebContextLinux&) = delete;
    WebContextLinux& operator=(const WebContextLinux&) = delete;

    WebKitWebContext* get() const { return m_context; }
    const WebContextConfig& config() const { return m_config; }

private:
    WebContextConfig m_config;
    WebKitWebContext* m_context = nullptr; // owned
    LocalSchemeHandlerLinux m_localScheme;
};

// The extension's folder: "web-extensions" beside the running program when it is there (a
// build tree), else the installed one.
std::string webExtensionsDirectory();

} // namespace ferrovan
