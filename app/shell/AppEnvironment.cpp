#include "shell/AppEnvironment.h"

#include "shell/CommandLineArguments.h"
#include "shell/PlatformServices.h"

#include "core/config/FvTransfersGlobalConfig.h"

#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Path.h>

#include <cstdlib>
#include <cstring>
#include <utility>

namespace ferrovan {

namespace {

using BundleGetter = bool (IAppBundleInfo::*)(std::string&);

bool queryTransfersOsVersion(char* buffer, int& size)
{
    fv_transfers::CFvTransfersGlobalConfig* config = fv_transfers::CFvTransfersGlobalConfig::getInstance();
    return config != nullptr && config->getOsVersionString(buffer, size);
}

std::string fromBundle(Poco::SharedPtr<IAppBundleInfo> bundleInfo, BundleGetter getter)
{
    if (bundleInfo.isNull())
        throw Poco::NullPointerException("AppEnvironment: no bundle information");
    std::string value;
    ((*bundleInfo).*getter)(value);
    return value;
}

// An option given without a value names no address, so the bundle's stands.
std::string optionOrBundle(const std::map<int, std::string>& options, int option,
                           const Poco::SharedPtr<IAppBundleInfo>& bundleInfo, BundleGetter getter)
{
    const auto given = options.find(option);
    if (given != options.end() && !given->second.empty())
        return given->second;
    return fromBundle(bundleInfo, getter);
}

std::string childOf(const std::string& folder, const std::string& name)
{
    Poco::Path path(folder, Poco::Path::PATH_UNIX);
    path.makeDirectory();
    path.setFileName(name);
    return path.toString();
}

// Installed copies keep their resources under the data root chosen at build time; a build tree
// has them beside the executable.
std::string installedResourcesDirectory()
{
    return childOf(childOf(FV_DATADIR, "ferrovan"), getResourcesDirectoryName());
}

} // namespace

AppEnvironment::AppEnvironment(const Poco::SharedPtr<IAppBundleInfo>& bundleInfo, const std::string& executablePath,
                               const std::map<int, std::string>& stringOptions)
    : AppEnvironment(bundleInfo, executablePath, stringOptions, queryTransfersOsVersion)
{
}

AppEnvironment::AppEnvironment(const Poco::SharedPtr<IAppBundleInfo>& bundleInfo, const std::string& executablePath,
                               const std::map<int, std::string>& stringOptions, OsVersionQuery osVersionQuery)
    : m_bundleInfo(bundleInfo), m_executablePath(executablePath), m_stringOptions(stringOptions),
      m_osVersionQuery(std::move(osVersionQuery)), m_appDataDirectory(getLocalAppDataDirectory())
{
    const char* testMode = std::getenv("FV_TEST_MODE");
    m_testMode = testMode != nullptr && std::strcmp(testMode, "1") == 0;
}

std::string AppEnvironment::getAppDataDirectory() const
{
    return m_appDataDirectory;
}

std::string AppEnvironment::getAppLogFilePath() const
{
    return inAppDataDirectory("fv_app.log");
}

std::string AppEnvironment::getCacheDirectory() const
{
    return inAppDataDirectory("Cache");
}

std::string AppEnvironment::getCefLogFilePath() const
{
    return inAppDataDirectory("browser.log");
}

std::string AppEnvironment::getSettingsFilePath() const
{
    return inAppDataDirectory("fv_settings.json");
}

std::string AppEnvironment::getResourcesDirectory() const
{
    // A relative executable path would make the folder depend on the working folder.
    if (!Poco::Path(m_executablePath, Poco::Path::PATH_UNIX).isAbsolute())
        return installedResourcesDirectory();
    const std::string beside = childOf(getParentDirectory(m_executablePath), getResourcesDirectoryName());
    const Poco::File folder(beside);
    return folder.exists() && folder.isDirectory() ? beside : installedResourcesDirectory();
}

std::string AppEnvironment::getLoadingPageUrl() const
{
    return inResourcesDirectory("loading.html");
}

std::string AppEnvironment::getErrorPageUrl() const
{
    return inResourcesDirectory("error.html");
}

std::string AppEnvironment::getExecutablePath() const
{
    return m_executablePath;
}

std::string AppEnvironment::getAppVersion() const
{
    return fromBundle(m_bundleInfo, &IAppBundleInfo::getVersion);
}

std::string AppEnvironment::getWebAppBaseUrl() const
{
    return optionOrBundle(m_stringOptions, CommandLineArguments::kAppUrl, m_bundleInfo, &IAppBundleInfo::getWebsiteUrl);
}

std::string AppEnvironment::getWebAppPath() const
{
    return optionOrBundle(m_stringOptions, CommandLineArguments::kRestPath, m_bundleInfo,
                          &IAppBundleInfo::getWebAppPath);
}

std::string AppEnvironment::getRestEndpointUrl() const
{
    return optionOrBundle(m_stringOptions, CommandLineArguments::kRestEndpointUrl, m_bundleInfo,
                          &IAppBundleInfo::getRestApiUrl);
}

std::string AppEnvironment::getUserAgent() const
{
    const std::string product = fromBundle(m_bundleInfo, &IAppBundleInfo::getProductName);
    char buffer[512] = {};
    int size = sizeof(buffer);
    // A failed query may still report the text's length: the buffer is read only on success.
    const bool known =
        m_osVersionQuery && m_osVersionQuery(buffer, size) && size >= 0 && size < static_cast<int>(sizeof(buffer));
    const std::string osText = known ? std::string(buffer, static_cast<std::size_t>(size)) : "";
    return product + "/" + getAppVersion() + " (" + osText + ")";
}

bool AppEnvironment::isTestMode() const
{
    return m_testMode;
}

std::string AppEnvironment::inAppDataDirectory(const std::string& name) const
{
    return m_appDataDirectory.empty() ? "" : childOf(m_appDataDirectory, name);
}

std::string AppEnvironment::inResourcesDirectory(const std::string& name) const
{
    return childOf(getResourcesDirectory(), name);
}

} // namespace ferrovan
