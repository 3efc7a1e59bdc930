#pragma once

#include "shell/AppBundleInfo.h"

#include <string>

namespace fv_test {

// Bundle information of fixed values, none of them the build's.
class FixedBundleInfo : public ferrovan::IAppBundleInfo {
public:
    bool getVersion(std::string& out) override { return give("4.0.0", out); }
    bool getProductName(std::string& out) override { return give("Ferrovan", out); }
    bool getDisplayName(std::string& out) override { return give("Ferrovan", out); }
    bool getWebsiteUrl(std::string& out) override { return give("https://bundle.example", out); }
    bool getWebAppPath(std::string& out) override { return give("/app", out); }
    bool getCompanyName(std::string& out) override { return give("Ferrovan", out); }
    bool getAppcastUrl(std::string& out) override { return give("https://bundle.example/feed.xml", out); }
    bool getRestApiUrl(std::string& out) override { return give("https://rest.bundle.example", out); }

private:
    static bool give(const char* value, std::string& out)
    {
        out = value;
        return true;
    }
};

} // namespace fv_test
