#pragma once

#include "shell/AppBundleInfo.h"

#include <Poco/SharedPtr.h>

#include <map>
#include <string>

namespace ferrovan {

// The program's folders, files, addresses and user agent: the command line's string options
// first, the bundle information second. Every getter returns UTF-8 text; one that needs the
// bundle information throws Poco::NullPointerException without it.
class AppEnvironment {
public:
    // Looks up the data folder once (getLocalAppDataDirectory).
    AppEnvironment(Poco::SharedPtr<IAppBundleInfo> bundleInfo, const std::string& executablePath,
                   const std::map<int, std::string>& stringOptions);

    // Empty when no absolute folder could be found or created: start-up stops then.
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

private:
    Poco::SharedPtr<IAppBundleInfo> m_bundleInfo;
    std::string m_executablePath;
    std::map<int, std::string> m_stringOptions;
    std::string m_appDataDirectory;
};

} // namespace ferrovan
