#include "WebViewFixture.h"

#include <Poco/File.h>

using namespace fv_test;

namespace {

using WebViewLinuxTest = WebViewFixture;

TEST_F(WebViewLinuxTest, ShowsAPageRunsScriptsAndClosesOnce)
{
    const std::string url = m_service.url("/app");
    ASSERT_NO_FATAL_FAILURE(open(url));
    EXPECT_EQ(1, m_client->created);
    ASSERT_EQ(std::vector<int>{200}, m_client->loadEnds);
    EXPECT_FALSE(m_browser->IsPopup());
    EXPECT_TRUE(m_browser->IsSame(m_browser.get()));
    EXPECT_TRUE(m_browser->GetMainFrame()->IsMain());
    EXPECT_EQ(url, m_browser->GetMainFrame()->GetURL().ToString());
    EXPECT_NE(nullptr, m_browser->GetHost()->GetWindowHandle());

    EXPECT_EQ("\"FerrovanTest/1.0\"", evaluate("navigator.userAgent"));
    m_browser->GetMainFrame()->ExecuteJavaScript("document.title = 'changed'", "", 0);
    EXPECT_TRUE(runMainContextUntil([&] { return evaluate("document.title") == "\"changed\""; }, kDeadline));

    // Cookies persist in the settings' file.
    EXPECT_EQ("\"a=b\"", evaluate("document.cookie = 'a=b; max-age=3600'; document.cookie"));
    EXPECT_TRUE(
        runMainContextUntil([&] { return Poco::File(m_dir.file("cache/cookies.sqlite")).exists(); }, kDeadline));

    fvcef::CefRefPtr<fvcef::CefFrame> frame = m_browser->GetMainFrame();
    m_browser->GetHost()->CloseBrowser(true);
    EXPECT_EQ(1, m_client->closeAsked);
    EXPECT_EQ(1, m_client->closed);
    EXPECT_FALSE(m_browser->GetMainFrame());
    EXPECT_EQ(nullptr, m_browser->GetHost()->GetWindowHandle());
    // What is left of a closed browser does nothing.
    frame->LoadURL(url);
    frame->ExecuteJavaScript("1", "", 0);
    m_browser->GetHost()->CloseBrowser(true);
    m_browser->GetHost()->CloseBrowser(false);
    runReady(nullptr);
    EXPECT_EQ(1, m_client->closed);
}

// The window's close button asks the page, then the client, before the browser ends.
TEST_F(WebViewLinuxTest, ClosingTheWindowClosesTheBrowserOnce)
{
    ASSERT_NO_FATAL_FAILURE(open(m_service.url("/app")));
    auto* window = static_cast<GtkWindow*>(m_browser->GetHost()->GetWindowHandle());
    GtkDriver::sendDeleteEvent(window);
    ASSERT_TRUE(runMainContextUntil([&] { return m_client->closed == 1; }, kDeadline));
    EXPECT_EQ(1, m_client->closeAsked);
    runReady(nullptr);
    EXPECT_EQ(1, m_client->closed);
    EXPECT_EQ(nullptr, m_browser->getWebView());
}

} // namespace
