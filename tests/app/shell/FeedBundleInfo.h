#pragma once

#include "app/shell/FixedBundleInfo.h"

#include <string>
#include <utility>

namespace fv_test {

// Fixed bundle information with the program's version and its update feed chosen by the test.
class FeedBundleInfo : public FixedBundleInfo {
public:
    FeedBundleInfo(std::string version, std::string feedUrl) : m_version(std::move(version)), m_feed(std::move(feedUrl))
    {
    }
    bool getVersion(std::string& out) override
    {
        out = m_version;
        return true;
    }
    bool getAppcastUrl(std::string& out) override
    {
        out = m_feed;
        return true;
    }

private:
    std::string m_version;
    std::string m_feed;
};

} // namespace fv_test
