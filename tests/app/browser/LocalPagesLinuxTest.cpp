#include "WebViewFixture.h"

#include "browser/LocalPages.h"

#include <Poco/URI.h>

using namespace fv_test;

namespace {

// The program's own pages as this build copies them beside the program, shown in a real view.
class LocalPagesLinuxTest : public WebViewFixture {
protected:
    void adjust(ferrovan::WebContextConfig& config) override
    {
        config.localResources = [](const std::string& path) {
            return ferrovan::resolveLocalResource(FV_BUILD_RESOURCES_DIR, path);
        };
    }

    static std::string errorPage(const std::string& retry)
    {
        std::string encoded;
        Poco::URI::encode(retry, "&=?#+/:", encoded);
        return ferrovan::localPageUrl(ferrovan::kErrorPage) + (retry.empty() ? "" : "?retry=" + encoded);
    }
};

TEST_F(LocalPagesLinuxTest, TheLoadingPageNamesTheProgramWithoutLoadingAnythingElse)
{
    ASSERT_NO_FATAL_FAILURE(open(ferrovan::localPageUrl(ferrovan::kLoadingPage)));
    ASSERT_TRUE(m_client->loadErrors.empty());
    EXPECT_EQ("\"Ferrovan\"", evaluate("document.querySelector('h1').textContent"));
    EXPECT_EQ("\"Loading…\"", evaluate("document.querySelector('p').textContent"));
    EXPECT_EQ("0", evaluate("performance.getEntriesByType('resource').length"));
}

TEST_F(LocalPagesLinuxTest, TheErrorPageRetriesTheWebAddressItIsGivenAndNothingElse)
{
    const struct {
        const char* what;
        std::string retry;
    } refused[] = {
        {"none", ""},
        {"a script", "javascript:alert(1)"},
        {"a local file", "file:///etc/passwd"},
        {"a local page", ferrovan::localPageUrl(ferrovan::kLoadingPage)},
        {"data", "data:text/html,<p>x</p>"},
        {"not an address", "127.0.0.1:8765/app"},
    };
    ASSERT_NO_FATAL_FAILURE(open(errorPage("")));
    for (const auto& c : refused) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(load(errorPage(c.retry)));
        EXPECT_EQ("true", evaluate("document.getElementById('retry').hidden"));
        EXPECT_NE(std::string::npos, evaluate("document.body.textContent").find("could not be reached"));
    }

    ASSERT_NO_FATAL_FAILURE(load(errorPage(webAppUrl())));
    EXPECT_EQ("false", evaluate("document.getElementById('retry').hidden"));
    const std::size_t ends = m_client->loadEnds.size();
    evaluate("document.getElementById('retry').click(); true");
    ASSERT_TRUE(runMainContextUntil([&] { return m_client->loadEnds.size() > ends; }, kDeadline));
    EXPECT_EQ(webAppUrl(), m_browser->GetMainFrame()->GetURL().ToString());
    EXPECT_EQ(200, m_client->loadEnds.back());
}

} // namespace
