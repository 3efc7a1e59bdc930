#include "QueryRouterStub.h"
#include "RecordingLifeCycle.h"
#include "bridge/BridgeSleepCounter.h"
#include "bridge/QueryHandlerNativeApp.h"
#include "bridge/QueryHandlerRegistration.h"
#include "bridge/QueryHandlerRegistry.h"
#include "shell/FerrovanLogger.h"

#include "support/fixtures/FakeLogind.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

using ferrovan::BridgeSleepCounter;
using ferrovan::CFerrovanLogger;
using ferrovan::CQueryHandlerNativeApp;
using fv_test::QueryAnswer;
using fv_test::QueryRouterStub;

const std::string kNull = "null\n";
const std::string kOpenUrl = "ferrovan::CQueryHandlerNativeApp::openURL: ";

std::string request(const std::string& method, const std::string& parameters = "")
{
    return R"({"method":")" + method + "\"" + (parameters.empty() ? "" : R"(,"parameters":)" + parameters) + "}";
}

int occurrences(const std::string& text, const std::string& piece)
{
    int count = 0;
    for (std::string::size_type at = 0; (at = text.find(piece, at)) != std::string::npos; at += piece.size())
        ++count;
    return count;
}

class QueryHandlerNativeAppTest : public ::testing::Test {
protected:
    void SetUp() override { CFerrovanLogger::setLogFilePath(m_dir.file("fv_app.log")); }
    void TearDown() override { CFerrovanLogger::destroyInstance(); }

    std::string logText() const { return fv_test::readFile(m_dir.file("fv_app.log")); }

    // The single answer of one query; a second or missing answer fails the test.
    QueryAnswer answerOf(QueryRouterStub& router, const std::string& text)
    {
        const std::vector<QueryAnswer> answers = router.send(text);
        EXPECT_EQ(answers.size(), 1u) << text;
        return answers.empty() ? QueryAnswer{} : answers[0];
    }

    void expectNull(QueryRouterStub& router, const std::string& text)
    {
        const QueryAnswer answer = answerOf(router, text);
        EXPECT_TRUE(answer.success) << text << ": " << answer.text;
        EXPECT_EQ(answer.text, kNull) << text;
    }

    fv_test::Watchdog m_watchdog{"a native application bridge test", std::chrono::seconds(100)};
    fv_test::TempDir m_dir;
};

TEST_F(QueryHandlerNativeAppTest, OffersItsMethodsInByteOrder)
{
    CQueryHandlerNativeApp handler;
    QueryRouterStub router(handler);

    const QueryAnswer answer = answerOf(router, request("supportedMethods"));

    EXPECT_EQ(answer.text, R"(["copyToClipboard","onAppExit","onAppReady","openURL","startPreventingSleep",)"
                           R"("stopPreventingSleep","supportedMethods"])"
                           "\n");
}

TEST_F(QueryHandlerNativeAppTest, ReadyAndExitReachTheLifeCycleEachTime)
{
    fvcef::CefRefPtr<fv_test::RecordingLifeCycle> lifeCycle(new fv_test::RecordingLifeCycle);
    CQueryHandlerNativeApp handler;
    ferrovan::QueryHandlerContext context;
    context.lifeCycle = lifeCycle.get();
    handler.setContext(context);
    QueryRouterStub router(handler);

    for (int i = 0; i < 2; ++i) {
        expectNull(router, request("onAppReady"));
        expectNull(router, request("onAppExit", "{}"));
    }

    EXPECT_EQ(lifeCycle->startups, 2);
    EXPECT_EQ(lifeCycle->shutdowns, 2);
    EXPECT_EQ(occurrences(logText(), "QueryHandlerNativeApp: App ready"), 2) << logText();
    EXPECT_EQ(occurrences(logText(), "QueryHandlerNativeApp: onAppExit called"), 2) << logText();
}

TEST_F(QueryHandlerNativeAppTest, ReadyAndExitWithoutALifeCycleOnlyLog)
{
    CQueryHandlerNativeApp handler;
    QueryRouterStub router(handler);

    expectNull(router, request("onAppReady"));
    expectNull(router, request("onAppExit"));

    EXPECT_EQ(occurrences(logText(), "QueryHandlerNativeApp: App ready"), 1) << logText();
    EXPECT_EQ(occurrences(logText(), "QueryHandlerNativeApp: onAppExit called"), 1) << logText();
}

TEST_F(QueryHandlerNativeAppTest, AnAddressThatIsNotAWebPageIsRefusedAndLogged)
{
    const std::string refused[] = {"file:///etc/passwd", "javascript:alert(1)", "/bin/sh", "smb://h/s"};
    CQueryHandlerNativeApp handler;
    QueryRouterStub router(handler);

    for (const std::string& url : refused)
        expectNull(router, request("openURL", R"({"url":")" + url + "\"}"));

    for (const std::string& url : refused)
        EXPECT_EQ(occurrences(logText(), kOpenUrl + "failed to open URL: " + url + "\n"), 1) << url << logText();
}

TEST_F(QueryHandlerNativeAppTest, AnEmptyOrMissingAddressIsLoggedAsSuch)
{
    const std::string parameters[] = {R"({"url":""})", R"({"url":null})", "{}", ""};
    CQueryHandlerNativeApp handler;
    QueryRouterStub router(handler);

    for (const std::string& p : parameters)
        expectNull(router, request("openURL", p));

    EXPECT_EQ(occurrences(logText(), kOpenUrl + "URL passed is empty or not specified!"), 4) << logText();
    EXPECT_EQ(occurrences(logText(), "failed to open URL"), 0) << logText();
}

TEST_F(QueryHandlerNativeAppTest, ALoggedAddressCarriesNoSecretAndNoLineOfItsOwn)
{
    CQueryHandlerNativeApp handler;
    QueryRouterStub router(handler);

    expectNull(router, request("openURL", R"({"url":"ftp://h/f?token=s3cr3t"})"));
    expectNull(router, request("openURL", R"({"url":"smb://h/s\n[error] forged line"})"));

    const std::string log = logText();
    EXPECT_EQ(log.find("s3cr3t"), std::string::npos) << log;
    EXPECT_EQ(occurrences(log, kOpenUrl + "failed to open URL: ftp://h/f?token="), 1) << log;
    EXPECT_EQ(occurrences(log, "\n[error] forged line"), 0) << log;
    EXPECT_EQ(occurrences(log, kOpenUrl + "failed to open URL: smb://h/s?[error] forged line\n"), 1) << log;
}

TEST_F(QueryHandlerNativeAppTest, ATextMemberThatIsNotTextFailsTheQuery)
{
    const std::string failures[] = {
        request("openURL", R"({"url":["https://example.invalid/"]})"),
        request("openURL", R"({"url":{"href":"x"}})"),
        request("copyToClipboard", R"({"value":[1]})"),
        request("copyToClipboard", R"({"value":{}})"),
    };
    CQueryHandlerNativeApp handler;
    QueryRouterStub router(handler);

    for (const std::string& text : failures) {
        const QueryAnswer answer = answerOf(router, text);
        EXPECT_FALSE(answer.success) << text;
        EXPECT_EQ(answer.code, -1) << text;
        EXPECT_EQ(answer.text, "Exception caught when executing query handler: Type is not convertible to string")
            << text;
    }
}

TEST_F(QueryHandlerNativeAppTest, RegisteredUnderItsBridgeName)
{
    ferrovan::QueryHandlerRegistry& registry = ferrovan::QueryHandlerRegistry::getInstance();
    registry.clear();

    const auto entry = [&] {
        return std::find_if(registry.begin(), registry.end(),
                            [](const auto& named) { return named.first == "nativeAppBridge_IPC"; });
    };
    ferrovan::registerQueryHandlers(false);
    ASSERT_NE(entry(), registry.end());
    EXPECT_TRUE(entry()->second.isNull());

    registry.clear();
    ferrovan::registerQueryHandlers(true);
    ASSERT_NE(entry(), registry.end());
    EXPECT_NE(dynamic_cast<const CQueryHandlerNativeApp*>(entry()->second.get()), nullptr);
    registry.clear();
}

// The page's holds on sleep, seen as the inhibitors logind lists.
class BridgeSleep : public QueryHandlerNativeAppTest {
protected:
    void TearDown() override
    {
        BridgeSleepCounter::getInstance().releaseAll();
        QueryHandlerNativeAppTest::TearDown();
    }

    std::size_t inhibitors() { return m_logind.listInhibitors().size(); }

    fv_test::FakeLogind m_logind;
};

TEST_F(BridgeSleep, ThePageCannotGiveBackMoreThanItTook)
{
    CQueryHandlerNativeApp handler;
    QueryRouterStub router(handler);

    expectNull(router, request("stopPreventingSleep"));
    EXPECT_EQ(inhibitors(), 0u);
    expectNull(router, request("startPreventingSleep"));
    expectNull(router, request("startPreventingSleep"));
    EXPECT_EQ(inhibitors(), 1u);
    expectNull(router, request("stopPreventingSleep"));
    EXPECT_EQ(inhibitors(), 1u);
    expectNull(router, request("stopPreventingSleep"));
    EXPECT_TRUE(m_logind.waitForInhibitorCount(0));
    expectNull(router, request("stopPreventingSleep"));
    EXPECT_EQ(BridgeSleepCounter::getInstance().held(), 0);

    // The extra stop was not counted: one start holds the machine again.
    expectNull(router, request("startPreventingSleep"));
    EXPECT_EQ(inhibitors(), 1u);
    expectNull(router, request("stopPreventingSleep"));
    EXPECT_TRUE(m_logind.waitForInhibitorCount(0));
}

TEST_F(BridgeSleep, ReleaseAllGivesBackEveryHold)
{
    CQueryHandlerNativeApp handler;
    QueryRouterStub router(handler);
    expectNull(router, request("startPreventingSleep"));
    expectNull(router, request("startPreventingSleep"));
    ASSERT_EQ(inhibitors(), 1u);

    BridgeSleepCounter::getInstance().releaseAll();

    EXPECT_TRUE(m_logind.waitForInhibitorCount(0));
    EXPECT_EQ(BridgeSleepCounter::getInstance().held(), 0);
    expectNull(router, request("stopPreventingSleep"));
    expectNull(router, request("startPreventingSleep"));
    EXPECT_EQ(inhibitors(), 1u);
}

TEST_F(BridgeSleep, TheHandlerGoingGivesBackEveryHold)
{
    {
        CQueryHandlerNativeApp handler;
        QueryRouterStub router(handler);
        for (int i = 0; i < 3; ++i)
            expectNull(router, request("startPreventingSleep"));
        ASSERT_EQ(inhibitors(), 1u);
    }

    EXPECT_TRUE(m_logind.waitForInhibitorCount(0));
    EXPECT_EQ(BridgeSleepCounter::getInstance().held(), 0);
}

TEST(BridgeSleepCounter, AFailingSystemBusStillCountsTheHolds)
{
    fv_test::NoSystemBus noBus;
    BridgeSleepCounter counter;

    counter.startPreventing();
    counter.startPreventing();
    counter.stopPreventing();
    EXPECT_EQ(counter.held(), 1);
    counter.releaseAll();
    EXPECT_EQ(counter.held(), 0);
    counter.stopPreventing();
    EXPECT_EQ(counter.held(), 0);
}

} // namespace
