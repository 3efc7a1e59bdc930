#include "shell/linux/OsFileExplorerLinux.h"

#include "shell/FerrovanLogger.h"
#include "shell/FileUrl.h"
#include "shell/LogText.h"
#include "shell/WebUrl.h"
#include "shell/linux/SessionBusLinux.h"

#include <gio/gio.h>

#include <memory>

#include <sys/stat.h>

namespace ferrovan {

namespace {

const char* const kFileManagerName = "org.freedesktop.FileManager1";
const char* const kFileManagerPath = "/org/freedesktop/FileManager1";
// Long enough for a file manager the bus has to start first.
const int kFileManagerTimeoutMs = 10000;

void logError(const std::string& function, const std::string& text)
{
    logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_ERROR,
            "ferrovan::OsFileExplorerLinux::" + function + ": " + text);
}

struct ErrorDeleter {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorDeleter>;

struct VariantDeleter {
    void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
using VariantPtr = std::unique_ptr<GVariant, VariantDeleter>;

bool launchDefaultHandler(const std::string& function, const std::string& uri)
{
    GError* rawError = nullptr;
    if (g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &rawError))
        return true;
    const ErrorPtr error(rawError);
    logError(function, "no handler could open " + urlForLog(uri) + ": " + (error ? error->message : "unknown error"));
    return false;
}

// Asks the session's file manager to show the item; false when there is no bus, no file
// manager or no answer.
bool callFileManager(const std::string& method, const std::string& uri)
{
    const SessionBusPtr bus = connectSessionBus("ferrovan::OsFileExplorerLinux::showInFolder");
    if (!bus)
        return false;
    GError* rawError = nullptr;
    const gchar* uris[] = {uri.c_str(), nullptr};
    const VariantPtr reply(g_dbus_connection_call_sync(
        bus.get(), kFileManagerName, kFileManagerPath, kFileManagerName, method.c_str(),
        g_variant_new("(^ass)", uris, ""), nullptr, G_DBUS_CALL_FLAGS_NONE, kFileManagerTimeoutMs, nullptr, &rawError));
    if (!reply) {
        const ErrorPtr error(rawError);
        logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_WARNING,
                "ferrovan::OsFileExplorerLinux::showInFolder: the file manager did not answer " + method + ": " +
                    (error ? error->message : "unknown error"));
        return false;
    }
    return true;
}

std::string withoutTrailingSlashes(const std::string& path)
{
    const std::string::size_type last = path.find_last_not_of('/');
    if (last == std::string::npos)
        return path.empty() ? path : "/";
    return path.substr(0, last + 1);
}

std::string parentOf(const std::string& path)
{
    const std::string::size_type slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

} // namespace

bool OsFileExplorerLinux::showInFolder(const std::string& path)
{
    const std::string item = withoutTrailingSlashes(path);
    std::string itemUri;
    struct stat status {};
    if (!pathToFileUrl(item, itemUri) || ::stat(item.c_str(), &status) != 0) {
        logError("showInFolder", "not an existing absolute path: " + printableForLog(path));
        return false;
    }
    const bool isFolder = S_ISDIR(status.st_mode);
    if (callFileManager(isFolder ? "ShowFolders" : "ShowItems", itemUri))
        return true;
    std::string folderUri;
    if (!pathToFileUrl(isFolder ? item : parentOf(item), folderUri))
        return false;
    return launchDefaultHandler("showInFolder", folderUri);
}

bool OsFileExplorerLinux::open(const std::string& url)
{
    if (!isWebUrl(url)) {
        logError("open", "refused to open an address that is not http or https with a host: " + urlForLog(url));
        return false;
    }
    return launchDefaultHandler("open", url);
}

bool openWebPage(const std::string& url)
{
    return createOsFileExplorer()->open(url);
}

std::unique_ptr<IOsFileExplorer> createOsFileExplorer()
{
    return std::make_unique<OsFileExplorerLinux>();
}

} // namespace ferrovan
