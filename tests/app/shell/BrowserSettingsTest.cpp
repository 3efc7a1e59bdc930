#include "shell/BrowserSettings.h"

#include "app/shell/FixedBundleInfo.h"
#include "app/shell/ScopedVariable.h"
#include "support/fixtures/TestEnvironment.h"

#include "shell/AppEnvironment.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

using ferrovan::BrowserSettings;
using ferrovan::makeBrowserSettings;

const std::string kCache = "/home/user/.local/share/Ferrovan/Cache";
const std::string kLog = "/home/user/.local/share/Ferrovan/browser.log";

// Everything the browser keeps sits in the cache folder, which clearing web data removes whole.
TEST(BrowserSettings, KeepsAllWebDataInsideTheCacheFolder)
{
    for (const std::string& cache : {kCache, kCache + "/"}) {
        SCOPED_TRACE(cache);
        const BrowserSettings settings = makeBrowserSettings(cache, kLog, "Ferrovan/4.0.0 (Debian 12)", false);
        EXPECT_EQ(settings.dataDirectory, kCache + "/WebData/");
        EXPECT_EQ(settings.cacheDirectory, kCache + "/WebCache/");
        EXPECT_EQ(settings.cookiesFilePath, kCache + "/cookies.sqlite");
        EXPECT_EQ(settings.logFilePath, kLog);
        EXPECT_EQ(settings.userAgent, "Ferrovan/4.0.0 (Debian 12)");
    }
}

TEST(BrowserSettings, FailsOnTlsErrorsAndSandboxesWebPagesOutsideTestMode)
{
    struct Case {
        bool testMode;
        bool sandbox;
    };
    for (const Case& c : {Case{false, true}, Case{true, false}}) {
        SCOPED_TRACE(c.testMode ? "test mode" : "normal");
        const BrowserSettings settings = makeBrowserSettings(kCache, kLog, "ua", c.testMode);
        EXPECT_TRUE(settings.failOnTlsErrors);
        EXPECT_EQ(settings.webProcessSandbox, c.sandbox);
    }
}

// A relative path would put web data or the log in whatever folder the program was started from.
// The program's own settings: its cache folder, log and user agent; test mode read from the
// environment decides the sandbox.
TEST(BrowserSettings, FilledFromTheProgramsEnvironment)
{
    fv_test::TempDir home;
    fv_test::ScopedVariable dataHome("XDG_DATA_HOME", home.path().c_str());
    for (const char* testMode : {"1", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(testMode ? "test mode" : "normal");
        fv_test::ScopedVariable mode("FV_TEST_MODE", testMode);
        const ferrovan::AppEnvironment environment(new fv_test::FixedBundleInfo(), "/opt/ferrovan/bin/Ferrovan", {});
        const BrowserSettings settings = ferrovan::fillBrowserSettings(environment);
        EXPECT_EQ(settings.dataDirectory, environment.getCacheDirectory() + "/WebData/");
        EXPECT_EQ(settings.logFilePath, environment.getCefLogFilePath());
        EXPECT_EQ(settings.userAgent, environment.getUserAgent());
        EXPECT_EQ(settings.webProcessSandbox, testMode == nullptr);
    }
}

TEST(BrowserSettings, RefusesPathsThatAreNotAbsolute)
{
    struct Case {
        const char* name;
        std::string cache;
        std::string log;
    };
    const Case cases[] = {
        {"empty cache folder", "", kLog},
        {"relative cache folder", "Cache", kLog},
        {"empty log path", kCache, ""},
        {"relative log path", kCache, "browser.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THROW(makeBrowserSettings(c.cache, c.log, "ua", false), std::invalid_argument);
    }
}

} // namespace
