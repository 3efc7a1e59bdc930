#include "WebViewFixture.h"

#include "browser/BrowserLog.h"

#include <ostream>

using namespace fv_test;

namespace {

struct ConsoleCase {
    const char* name;
    bool testMode;
};

void PrintTo(const ConsoleCase& c, std::ostream* out)
{
    *out << c.name;
}

// The browser's own log as the program keeps it, beside a real view. Developer extras are on
// in test mode only, and so is the page's console in the log.
class BrowserLogLinuxTest : public WebViewFixture, public ::testing::WithParamInterface<ConsoleCase> {
protected:
    void SetUp() override
    {
        WebViewFixture::SetUp();
        ferrovan::BrowserLog::open(m_context->config().settings.logFilePath);
    }

    void TearDown() override
    {
        WebViewFixture::TearDown();
        ferrovan::BrowserLog::close();
    }

    void adjust(ferrovan::WebContextConfig& config) override { config.settings.developerExtras = GetParam().testMode; }

    std::string browserLog() const { return readFile(m_dir.file("browser.log")); }

    bool awaitBrowserLog(const std::string& text)
    {
        return runMainContextUntil([&] { return browserLog().find(text) != std::string::npos; }, kDeadline);
    }

    // An address of this machine where nothing listens any more.
    static std::string closedAddress(const std::string& pathAndQuery)
    {
        TestService closed;
        const std::string url = closed.url(pathAndQuery);
        closed.stop();
        return url;
    }
};

TEST_P(BrowserLogLinuxTest, FailedLoadsCertificatesAndProcessEndsAreLoggedTheConsoleInTestModeOnly)
{
    ASSERT_NO_FATAL_FAILURE(open(webAppUrl()));

    // The console line goes out before the navigation the same script starts, so once the
    // failed load is in the log, a forwarded line is there too.
    const std::string failing = closedAddress("/app?signature=s3cret");
    evaluate("console.log('page says\\nhello'); console.error('page fails'); location.href = '" + failing + "'; true");
    ASSERT_TRUE(awaitBrowserLog("Load failed: ")) << browserLog();
    const std::string afterLoad = browserLog();
    EXPECT_EQ(std::string::npos, afterLoad.find("s3cret")) << afterLoad;
    EXPECT_NE(std::string::npos, afterLoad.find(failing.substr(0, failing.find('?')))) << afterLoad;
    const bool console = GetParam().testMode;
    EXPECT_EQ(console, afterLoad.find("[Information] Console: page says?hello (") != std::string::npos) << afterLoad;
    EXPECT_EQ(console, afterLoad.find("[Error] Console: page fails (") != std::string::npos) << afterLoad;

    TestServiceOptions options;
    options.http = false;
    options.https = true;
    TestService untrusted(options);
    load(untrusted.url("/app", true));
    EXPECT_TRUE(awaitBrowserLog("Certificate refused: " + untrusted.url("/app", true) + ": ")) << browserLog();

    webkit_web_view_terminate_web_process(view());
    EXPECT_TRUE(awaitBrowserLog("[Error] Page process ended: WEBKIT_WEB_PROCESS_TERMINATED_BY_API")) << browserLog();
}

INSTANTIATE_TEST_SUITE_P(Modes, BrowserLogLinuxTest,
                         ::testing::Values(ConsoleCase{"TestMode", true}, ConsoleCase{"Release", false}),
                         [](const ::testing::TestParamInfo<ConsoleCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
