#include "browser/LocalPages.h"
#include "browser/NavigationPolicy.h"
#include "browser/WebAppUrl.h"
#include "shell/AppEnvironment.h"
#include "shell/CommandLineArguments.h"

#include "app/shell/FixedBundleInfo.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using ferrovan::NavigationDecision;
using ferrovan::NavigationRequest;
using ferrovan::NavigationStage;

const std::string kWebApp = "https://svc.example/app";

enum class Outcome { kAllowed, kAllowedInDomain, kBlocked };

std::ostream& operator<<(std::ostream& out, Outcome outcome)
{
    const char* names[] = {"allowed", "allowed in domain", "blocked"};
    return out << names[static_cast<int>(outcome)];
}

std::vector<std::string> localPages()
{
    std::vector<std::string> urls;
    ferrovan::getLocalPageUrls(urls);
    return urls;
}

// The decision's verdict and log line must agree with each other, so both are read back as one.
Outcome outcomeOf(const NavigationDecision& decision, const std::string& url)
{
    const std::string prefix = "Application tried to navigate to URL: " + url;
    if (decision.allow && decision.message.empty())
        return Outcome::kAllowed;
    if (decision.allow && decision.priority == Poco::Message::PRIO_WARNING &&
        decision.message == prefix + ". Navigation allowed, since it's in the same domain.")
        return Outcome::kAllowedInDomain;
    if (!decision.allow && decision.priority == Poco::Message::PRIO_ERROR &&
        decision.message == prefix + ". Navigation blocked.")
        return Outcome::kBlocked;
    ADD_FAILURE() << url << ": allow " << decision.allow << " with log line '" << decision.message << "' at "
                  << decision.priority;
    return Outcome::kBlocked;
}

NavigationRequest action(const std::string& url, bool userGesture)
{
    return {NavigationStage::kAction, url, true, userGesture};
}

NavigationRequest response(const std::string& url, bool mainFrame)
{
    return {NavigationStage::kResponse, url, mainFrame, false};
}

struct NavigationCase {
    NavigationRequest request;
    Outcome outcome;
};

void expectOutcomes(const std::vector<NavigationCase>& cases, const std::string& webApp)
{
    for (const NavigationCase& c : cases) {
        const NavigationRequest& r = c.request;
        EXPECT_EQ(c.outcome, outcomeOf(decideNavigation(r, webApp, localPages()), r.url))
            << "web app '" << webApp << "', " << (r.stage == NavigationStage::kAction ? "action " : "response ")
            << r.url << ", main frame " << r.mainFrame << ", gesture " << r.userGesture;
    }
}

TEST(NavigationPolicy, ActionsStayOnTheWebAppTheLocalPagesOrSubFrameContent)
{
    expectOutcomes(
        {
            {action("https://svc.example/app", true), Outcome::kAllowed},
            {action("https://svc.example/app/inbox?x=1#y", true), Outcome::kAllowed},
            {action("HTTPS://SVC.Example:443/app/", true), Outcome::kAllowed},
            {action("https://svc.example/app/./inbox", false), Outcome::kAllowed},
            {action("https://svc.example/apple", true), Outcome::kAllowedInDomain},
            {action("https://svc.example/help", true), Outcome::kAllowedInDomain},
            {action("https://svc.example/app/../admin", true), Outcome::kAllowedInDomain},
            {action("https://svc.example/", false), Outcome::kAllowedInDomain},
            {action("https://svc.example.evil.example/app", true), Outcome::kBlocked},
            {action("https://svc.example@evil.example/app", true), Outcome::kBlocked},
            {action("http://svc.example/app", true), Outcome::kBlocked},
            {action("https://svc.example:8443/app", true), Outcome::kBlocked},
            {action("https://other.example/app", true), Outcome::kBlocked},
            {action("https://other.example/app", false), Outcome::kAllowed},
            {action("http://svc.example/app", false), Outcome::kAllowed},
            {action("fv-resource://local/loading.html", false), Outcome::kAllowed},
            {action("fv-resource://local/error.html", true), Outcome::kAllowed},
            {action("FV-RESOURCE://LOCAL/error.html?reason=1", true), Outcome::kAllowed},
            {action("fv-resource://local/other.html", false), Outcome::kBlocked},
            {action("fv-resource://elsewhere/loading.html", false), Outcome::kBlocked},
            {action("about:blank", true), Outcome::kAllowed},
            {action("about:srcdoc", false), Outcome::kAllowed},
            {action("about:config", false), Outcome::kBlocked},
            {action("blob:https://svc.example/0b4c", false), Outcome::kAllowed},
            {action("blob:https://svc.example/0b4c", true), Outcome::kBlocked},
            {action("data:text/html,<p>hi</p>", false), Outcome::kAllowed},
            {action("data:text/html,<p>hi</p>", true), Outcome::kBlocked},
            {action("file:///etc/passwd", false), Outcome::kBlocked},
            {action("file:///etc/passwd", true), Outcome::kBlocked},
            {action("javascript:alert(1)", false), Outcome::kBlocked},
            {action("ftp://svc.example/app", false), Outcome::kBlocked},
            {action("https:///app", false), Outcome::kBlocked},
            {action("https://svc.example:99999/app", false), Outcome::kBlocked},
            {action("https://svc.example/app/%zz", false), Outcome::kBlocked},
            {action("", false), Outcome::kBlocked},
        },
        kWebApp);
}

TEST(NavigationPolicy, OnlyTheWebAppsOriginAndTheLocalPagesFillTheMainFrame)
{
    expectOutcomes(
        {
            {response("https://svc.example/app/inbox", true), Outcome::kAllowed},
            {response("https://svc.example/login", true), Outcome::kAllowed},
            {response("https://SVC.example:443/app", true), Outcome::kAllowed},
            {response("fv-resource://local/error.html", true), Outcome::kAllowed},
            {response("https://other.example/app", true), Outcome::kBlocked},
            {response("https://other.example/app", false), Outcome::kAllowed},
            {response("http://svc.example/app", true), Outcome::kBlocked},
            {response("https://svc.example.evil.example/app", true), Outcome::kBlocked},
            {response("data:text/html,<p>hi</p>", true), Outcome::kBlocked},
            {response("data:text/html,<p>hi</p>", false), Outcome::kAllowed},
            {response("blob:https://svc.example/0b4c", false), Outcome::kAllowed},
            {response("about:blank", true), Outcome::kBlocked},
            {response("about:blank", false), Outcome::kAllowed},
            {response("file:///etc/passwd", false), Outcome::kBlocked},
            {response("fv-resource://local/other.html", false), Outcome::kBlocked},
            {response("https://svc.example:99999/app", false), Outcome::kBlocked},
        },
        kWebApp);
}

TEST(NavigationPolicy, WithoutAWebAppAddressOnlyTheLocalPagesFillTheMainFrame)
{
    const std::vector<NavigationCase> cases = {
        {action("fv-resource://local/loading.html", true), Outcome::kAllowed},
        {response("fv-resource://local/loading.html", true), Outcome::kAllowed},
        {action("https://svc.example/app", true), Outcome::kBlocked},
        {action("https://svc.example/app", false), Outcome::kAllowed},
        {response("https://svc.example/app", true), Outcome::kBlocked},
        {response("https://svc.example/app", false), Outcome::kAllowed},
        {action("file:///tmp/x.html", false), Outcome::kBlocked},
    };
    for (const std::string webApp : {"", "file:///srv/app", "svc.example/app"})
        expectOutcomes(cases, webApp);
}

struct AppPathCase {
    std::string webApp;
    std::string url;
    bool under;
};

TEST(NavigationPolicy, TheWebAppIsItsPathOnItsOriginNotAStringPrefix)
{
    const AppPathCase cases[] = {
        {"https://svc.example/app/", "https://svc.example/app", true},
        {"https://svc.example/app/", "https://svc.example/app/x", true},
        {"https://svc.example/app", "https://svc.example/application", false},
        {"https://svc.example", "https://svc.example/anything", true},
        {"https://svc.example/", "https://svc.example", true},
        {"https://svc.example/a/b", "https://svc.example/a", false},
        {"https://svc.example/a/b", "https://svc.example/a/b/../b/c", true},
        {"http://127.0.0.1:8765/app", "http://127.0.0.1:8765/app/x", true},
        {"http://127.0.0.1:8765/app", "http://127.0.0.1/app/x", false},
        {"http://127.0.0.1:8765/app", "http://localhost:8765/app/x", false},
        {"", "https://svc.example/app", false},
    };
    for (const AppPathCase& c : cases)
        EXPECT_EQ(c.under, ferrovan::isUnderWebApp(c.url, c.webApp)) << c.webApp << " " << c.url;
}

struct OriginCase {
    std::string url;
    bool sameOrigin;
};

TEST(NavigationPolicy, TheWebAppsOriginIsSchemeHostAndPort)
{
    const OriginCase cases[] = {
        {"https://svc.example/other/path?q", true},
        {"https://SVC.EXAMPLE/", true},
        {"https://svc.example:443/x", true},
        {"https://user:pw@svc.example/x", true},
        {"http://svc.example/app", false},
        {"http://svc.example:443/app", false},
        {"https://svc.example:444/app", false},
        {"https://svc.example.evil.example/app", false},
        {"https://evil.example/svc.example/app", false},
        {"https://svc.example@evil.example/app", false},
        {"wss://svc.example/app", false},
        {"blob:https://svc.example/0b4c", false},
        {"https://svc.example:99999/", false},
        {"", false},
    };
    for (const OriginCase& c : cases)
        EXPECT_EQ(c.sameOrigin, ferrovan::isWebAppOrigin(c.url, kWebApp)) << c.url;
    EXPECT_FALSE(ferrovan::isWebAppOrigin("https://svc.example/app", ""));
    EXPECT_TRUE(ferrovan::isWebAppOrigin("http://svc.example/app", "http://svc.example:80/app"));
}

struct SystemBrowserCase {
    std::string url;
    bool open;
};

TEST(NavigationPolicy, NewWindowsGoToTheSystemBrowserOnlyForWebAddresses)
{
    const SystemBrowserCase cases[] = {
        {"https://help.example/article?id=1", true},
        {"http://other.example/", true},
        {"file:///etc/passwd", false},
        {"javascript:alert(1)", false},
        {"mailto:someone@example.com", false},
        {"fv-resource://local/loading.html", false},
        {"https://", false},
        {"https://a.example/x y", false},
        {"", false},
    };
    for (const SystemBrowserCase& c : cases)
        EXPECT_EQ(c.open, ferrovan::mayOpenInSystemBrowser(c.url)) << c.url;
}

class NoWebsiteBundleInfo : public fv_test::FixedBundleInfo {
public:
    bool getWebsiteUrl(std::string& out) override
    {
        out.clear();
        return true;
    }
};

TEST(NavigationPolicy, TheWebAppUrlIsTheBaseWithThePathAppended)
{
    using ferrovan::AppEnvironment;
    using ferrovan::CommandLineArguments;
    const std::string executable = "/opt/ferrovan/bin/Ferrovan";
    EXPECT_EQ("https://bundle.example/app",
              ferrovan::getWebAppUrl(AppEnvironment(new fv_test::FixedBundleInfo(), executable, {})));
    EXPECT_EQ("http://127.0.0.1:1/app",
              ferrovan::getWebAppUrl(AppEnvironment(new fv_test::FixedBundleInfo(), executable,
                                                    {{CommandLineArguments::kAppUrl, "http://127.0.0.1:1"}})));
    EXPECT_EQ("", ferrovan::getWebAppUrl(AppEnvironment(new NoWebsiteBundleInfo(), executable, {})));
}

} // namespace
