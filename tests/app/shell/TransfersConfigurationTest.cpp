#include "app/shell/FixedBundleInfo.h"

#include "shell/AppEnvironment.h"
#include "shell/CommandLineArguments.h"
#include "shell/StringConversion.h"
#include "shell/TransfersConfiguration.h"

#include "core/config/FvTransfersGlobalConfig.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using ferrovan::AppEnvironment;
using ferrovan::CommandLineArguments;
using fv_test::FixedBundleInfo;
using fv_transfers::CFvTransfersGlobalConfig;

// The data folder comes from the session wrapper's temporary XDG_DATA_HOME.
TEST(TransfersConfiguration, HandsTheLibraryEndpointUserAgentAndFolder)
{
    const struct {
        const char* name;
        std::map<int, std::string> options;
        const char* endpoint;
    } cases[] = {
        {"option given",
         {{CommandLineArguments::kRestEndpointUrl, "http://127.0.0.1:8765/Exact?Text"}},
         "http://127.0.0.1:8765/Exact?Text"},
        {"bundle", {}, "https://rest.bundle.example"},
        {"other options only", {{CommandLineArguments::kAppUrl, "http://127.0.0.1:9"}}, "https://rest.bundle.example"},
    };
    CFvTransfersGlobalConfig& config = *CFvTransfersGlobalConfig::getInstance();
    for (const auto& c : cases) {
        config.setRestEndPointUrl("https://stale.example");
        config.setUserAgent("stale");
        config.setAppFilesPath(L"/stale");
        const AppEnvironment env(new FixedBundleInfo(), "/opt/ferrovan/Ferrovan", c.options,
                                 [](char* buffer, int& size) {
                                     static const char os[] = "Test OS 1";
                                     const bool fits = size >= static_cast<int>(sizeof(os));
                                     if (fits)
                                         std::copy(os, os + sizeof(os), buffer);
                                     size = static_cast<int>(sizeof(os)) - 1;
                                     return fits;
                                 });
        ASSERT_FALSE(env.getAppDataDirectory().empty());

        ferrovan::configureTransfers(env);

        EXPECT_EQ(config.getRestEndPointUrl(), c.endpoint) << c.name;
        EXPECT_EQ(config.getUserAgent(), "Ferrovan/4.0.0 (Test OS 1)") << c.name;
        std::string appFiles;
        ferrovan::wideToUtf8(config.getAppFilesPath(), appFiles);
        EXPECT_EQ(appFiles, env.getAppDataDirectory()) << c.name;
    }
}

} // namespace
