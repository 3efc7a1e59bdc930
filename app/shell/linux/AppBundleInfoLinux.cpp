#include "shell/linux/AppBundleInfoLinux.h"

#include "AppConfig.h"
#include "FvVersion.h"

namespace ferrovan {

namespace {

bool copyConfigured(const char* value, std::string& out)
{
    if (value == nullptr || value[0] == '\0')
        return false;
    out = value;
    return true;
}

} // namespace

bool CAppBundleInfoLinux::getVersion(std::string& out)
{
    return copyConfigured(FV_VERSION_STRING, out);
}

bool CAppBundleInfoLinux::getProductName(std::string& out)
{
    return copyConfigured(FV_PRODUCT_NAME, out);
}

// The product has one name; no separate display name is configured.
bool CAppBundleInfoLinux::getDisplayName(std::string& out)
{
    return copyConfigured(FV_PRODUCT_NAME, out);
}

bool CAppBundleInfoLinux::getWebsiteUrl(std::string& out)
{
    return copyConfigured(FV_WEB_URL, out);
}

bool CAppBundleInfoLinux::getWebAppPath(std::string& out)
{
    return copyConfigured(FV_WEB_APP_PATH, out);
}

bool CAppBundleInfoLinux::getCompanyName(std::string& out)
{
    return copyConfigured(FV_COMPANY_NAME, out);
}

bool CAppBundleInfoLinux::getAppcastUrl(std::string& out)
{
    return copyConfigured(FV_APPCAST_URL, out);
}

bool CAppBundleInfoLinux::getRestApiUrl(std::string& out)
{
    return copyConfigured(FV_REST_URL, out);
}

std::unique_ptr<IAppBundleInfo> createAppBundleInfo()
{
    return std::make_unique<CAppBundleInfoLinux>();
}

} // namespace ferrovan
