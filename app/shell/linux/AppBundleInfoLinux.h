#pragma once

#include "shell/AppBundleInfo.h"

#include <string>

namespace ferrovan {

// The identity and addresses configured into the build (AppConfig.h, FvVersion.h). A value
// configured empty counts as missing.
class CAppBundleInfoLinux : public IAppBundleInfo {
public:
    bool getVersion(std::string& out) override;
    bool getProductName(std::string& out) override;
    bool getDisplayName(std::string& out) override;
    bool getWebsiteUrl(std::string& out) override;
    bool getWebAppPath(std::string& out) override;
    bool getCompanyName(std::string& out) override;
    bool getAppcastUrl(std::string& out) override;
    bool getRestApiUrl(std::string& out) override;
};

} // namespace ferrovan
