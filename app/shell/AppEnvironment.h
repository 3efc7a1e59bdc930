#pragma once

#include "shell/AppBundleInfo.h"

#include <Poco/SharedPtr.h>

#include <functional>
#include <map>
#include <string>

namespace ferrovan {

// The program's folders, files, addresses and user agent: the command line's string options
// first, the bundle information second. Every getter returns UTF-8 text; one that needs the
// bundle information throws Poco::NullPointerException without it.
class AppEnvironment {
public:
    // Reads the OS text for the user agent, with the contract of
    // CFvTransfersGlobalConfig::getOsVersionString: copies only when `size` bytes leave room
    // for the text and its zero, sets `size` to the text's length either way.
    using OsVersionQuery = std::function<bool(char* buffer, int& size)>;

    // Looks up the data folder once (getLocalAppDataDirectory) and reads FV_TEST_MODE once.
    // The OS text comes from the transfer library's configuration.
    AppEnvironment(const Poco::SharedPtr<IAppBundleInfo>& bundleInfo, const std::string& executablePath,
                   const std::map<int, std::string>& stringOptions);
    AppEnvironment(const Poco::SharedPtr<IAppBundleInfo>& bundleInfo, const std::string& executablePath,
                   const std::map<int, std::string>& stringOptions, OsVersionQuery osVersionQuery);

    // Empty when no absolute folder could be found or created: start-up stops then, and every
    // path below it is empty too, never relative. Only this folder ends in a separator.
    std::string getAppDataDirectory() const;
    std::string getAppLogFilePath() const;
    std::string getCacheDirectory() const;
    std::string getCefLogFilePath() const;
    std::string getSettingsFilePath() const;
    std::string getResourcesDirectory() const;
    std::string getLoadingPageUrl() const;
    std::string getErrorPageUrl() const;
    std::string getExecutablePath() const;
    std::string getAppVersion() const;
    std::string getWebAppBaseUrl() const;
    std::string getWebAppPath() const;
    std::string getRestEndpointUrl() const;
    std::string getUserAgent() const;

    // FV_TEST_MODE=1 in the environment when the program started.
    bool isTestMode() const;

    // The file or folder `name` in the data folder; empty when there is no data folder.
    std::string inAppDataDirectory(const std::string& name) const;

private:
    std::string inResourcesDirectory(const std::string& name) const;

    Poco::SharedPtr<IAppBundleInfo> m_bundleInfo;
    std::string m_executablePath;
    std::map<int, std::string> m_stringOptions;
    OsVersionQuery m_osVersionQuery;
    std::string m_appDataDirectory;
    bool m_testMode;
};

} // namespace ferrovan
