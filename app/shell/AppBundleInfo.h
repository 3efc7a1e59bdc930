#pragma once

#include <memory>
#include <string>

namespace ferrovan {

// The program's build-time identity and deployment addresses. Each getter returns false and
// leaves `out` alone when the value is missing.
class IAppBundleInfo {
public:
    virtual ~IAppBundleInfo() = default;
    virtual bool getVersion(std::string& out) = 0;
    virtual bool getProductName(std::string& out) = 0;
    virtual bool getDisplayName(std::string& out) = 0;
    virtual bool getWebsiteUrl(std::string& out) = 0;
    virtual bool getWebAppPath(std::string& out) = 0;
    virtual bool getCompanyName(std::string& out) = 0;
    virtual bool getAppcastUrl(std::string& out) = 0;
    virtual bool getRestApiUrl(std::string& out) = 0;
};

std::unique_ptr<IAppBundleInfo> createAppBundleInfo();

} // namespace ferrovan
