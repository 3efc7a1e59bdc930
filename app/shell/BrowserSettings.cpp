#include "shell/BrowserSettings.h"

#include "shell/AppEnvironment.h"

#include <Poco/Path.h>

#include <stdexcept>

namespace ferrovan {

namespace {

Poco::Path absolutePath(const std::string& text, const char* what)
{
    Poco::Path path(text, Poco::Path::PATH_UNIX);
    if (!path.isAbsolute())
        throw std::invalid_argument(std::string("The browser's ") + what + " is not absolute: \"" + text + "\"");
    return path;
}

std::string subfolder(const Poco::Path& parent, const std::string& name)
{
    Poco::Path folder(parent);
    folder.pushDirectory(name);
    return folder.toString();
}

} // namespace

BrowserSettings makeBrowserSettings(const std::string& cacheFolder, const std::string& logFilePath,
                                    const std::string& userAgent, bool testMode)
{
    Poco::Path cache = absolutePath(cacheFolder, "cache folder");
    cache.makeDirectory();

    BrowserSettings settings;
    settings.dataDirectory = subfolder(cache, "WebData");
    settings.cacheDirectory = subfolder(cache, "WebCache");
    settings.cookiesFilePath = Poco::Path(cache, "cookies.sqlite").toString();
    settings.userAgent = userAgent;
    settings.logFilePath = absolutePath(logFilePath, "log file").toString();
    settings.webProcessSandbox = !testMode;
    // Tests read the page's console and may inspect it; users get neither.
    settings.developerExtras = testMode;
    return settings;
}

BrowserSettings fillBrowserSettings(const AppEnvironment& environment)
{
    return makeBrowserSettings(environment.getCacheDirectory(), environment.getCefLogFilePath(),
                               environment.getUserAgent(), environment.isTestMode());
}

} // namespace ferrovan
