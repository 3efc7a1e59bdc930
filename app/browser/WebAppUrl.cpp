#include "browser/WebAppUrl.h"

#include "browser/WebOrigin.h"
#include "shell/AppEnvironment.h"

#include <Poco/Exception.h>
#include <Poco/URI.h>

namespace ferrovan {

namespace {

// The path Poco gives once "." and ".." are resolved, without a trailing "/", so "/app/" and
// "/app" name the same application; empty for the origin's root.
bool normalisedPath(const std::string& url, std::string& path)
{
    try {
        Poco::URI parsed(url);
        parsed.normalize();
        path = parsed.getPath();
    } catch (const Poco::Exception&) {
        return false;
    }
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    return true;
}

} // namespace

std::string getWebAppUrl(const AppEnvironment& environment)
{
    const std::string base = environment.getWebAppBaseUrl();
    return base.empty() ? base : base + environment.getWebAppPath();
}

bool isWebAppOrigin(const std::string& url, const std::string& webAppUrl)
{
    const auto app = webOriginOf(webAppUrl);
    const auto target = webOriginOf(url);
    return app && target && *app == *target;
}

bool isUnderWebApp(const std::string& url, const std::string& webAppUrl)
{
    std::string appPath;
    std::string targetPath;
    if (!isWebAppOrigin(url, webAppUrl) || !normalisedPath(webAppUrl, appPath) || !normalisedPath(url, targetPath))
        return false;
    return targetPath.compare(0, appPath.size(), appPath) == 0 &&
           (targetPath.size() == appPath.size() || targetPath[appPath.size()] == '/');
}

} // namespace ferrovan
