#include "browser/host/linux/WebContextLinux.h"

#include "browser/host/linux/webext/BridgeProtocol.h"

#include <Poco/File.h>
#include <Poco/Path.h>

#include <unistd.h>

#include <array>

namespace ferrovan {

namespace {

std::string executableFolder()
{
    std::array<char, 4096> path{};
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0)
        return std::string();
    return Poco::Path(std::string(path.data(), static_cast<std::size_t>(length))).parent().toString();
}

WebKitWebsiteDataManager* newDataManager(const BrowserSettings& settings)
{
    WebKitWebsiteDataManager* manager =
        webkit_website_data_manager_new("base-data-directory", settings.dataDirectory.c_str(), "base-cache-directory",
                                        settings.cacheDirectory.c_str(), nullptr);
    webkit_website_data_manager_set_tls_errors_policy(
        manager, settings.failOnTlsErrors ? WEBKIT_TLS_ERRORS_POLICY_FAIL : WEBKIT_TLS_ERRORS_POLICY_IGNORE);
    webkit_cookie_manager_set_persistent_storage(webkit_website_data_manager_get_cookie_manager(manager),
                                                 settings.cookiesFilePath.c_str(),
                                                 WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    return manager;
}

} // namespace

std::string webExtensionsDirectory()
{
    const Poco::Path beside(Poco::Path(executableFolder()), Poco::Path("web-extensions/"));
    if (Poco::File(beside).exists())
        return beside.toString();
    return FV_WEB_EXTENSIONS_DIR;
}

WebContextLinux::WebContextLinux(const WebContextConfig& config)
    : m_config(config), m_localScheme(config.localResources)
{
    WebKitWebsiteDataManager* manager = newDataManager(config.settings);
    m_context = webkit_web_context_new_with_website_data_manager(manager);
    g_object_unref(manager);
    // Before any page process starts: the setting is read when the first one does.
    webkit_web_context_set_sandbox_enabled(m_context, config.settings.webProcessSandbox);
    const std::string extensions =
        config.extensionsDirectory.empty() ? webExtensionsDirectory() : config.extensionsDirectory;
    webkit_web_context_set_web_extensions_directory(m_context, extensions.c_str());
    webkit_web_context_set_web_extensions_initialization_user_data(
        m_context, bridge::toVariant(
                       bridge::ExtensionSetup{config.bridgeNames, config.webAppUrl, config.settings.developerExtras}));
    m_localScheme.registerWith(m_context);
}

WebContextLinux::~WebContextLinux()
{
    g_object_unref(m_context);
}

} // namespace ferrovan
