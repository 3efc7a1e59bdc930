#include "support/fixtures/Watchdog.h"
#include "support/net/HttpExchange.h"
#include "support/service/PageRoutes.h"
#include "support/service/TestService.h"

#include <gtest/gtest.h>

#include <json/json.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace fv_test;

namespace {

constexpr std::chrono::seconds kDeadline(10);

std::string reportBody(const std::string& call, const Json::Value& args)
{
    Json::Value report(Json::objectValue);
    report["call"] = call;
    report["args"] = args;
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, report);
}

HttpReply postReport(const TestService& service, const std::string& body)
{
    return httpExchange("POST", service.url("/app/report"), body, {{"Content-Type", "application/json"}});
}

PageReports::Predicate callNamed(const std::string& name)
{
    return [name](const Json::Value& report) { return report["call"].asString() == name; };
}

} // namespace

TEST(TestServicePage, ServesThePageWithEveryNameTheProgramAndTheTestsRelyOn)
{
    Watchdog watchdog("serving the test page");
    TestService service;
    const std::vector<std::string> names = {
        "_uploadManager_fileStateChanged",
        "_uploadManager_groupStateChanged",
        "_downloadManager_fileStateChanged",
        "_downloadManager_groupStateChanged",
        "_fileHandleChooser_handleDropFiles",
        "Backbone",
        "navigate",
        "onAppReady",
        "/app/report",
        "bridge-missing",
        "supportedMethods",
        "addressBookSearchManagerBridge_IPC",
        "dockProgressBarBridge_IPC",
        "downloadManagerBridge_IPC",
        "eventNotificationBridge_IPC",
        "fileHandleChooserBridge_IPC",
        "nativeAppBridge_IPC",
        "uploadManagerBridge_IPC",
    };
    for (const std::string target : {"/app", "/app?scenario=supportedMethods", "/app?scenario=none"}) {
        SCOPED_TRACE(target);
        const HttpReply reply = httpExchange("GET", service.url(target));
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.head.getContentType(), "text/html; charset=utf-8");
        EXPECT_EQ(reply.body, testPageHtml());
        EXPECT_EQ(reply.body.find("report.js"), std::string::npos) << "the report script is built in";
        for (const std::string& name : names)
            EXPECT_NE(reply.body.find(name), std::string::npos) << name;
    }
    EXPECT_TRUE(service.pageReports().empty());
}

TEST(TestServicePage, KeepsEveryReportInOrderOfArrivalAndWakesTheWaitingTest)
{
    Watchdog watchdog("page reports");
    TestService service;
    Json::Value args(Json::arrayValue);
    args.append("nativeAppBridge_IPC");
    args.append("onAppReady");
    args.append(Json::Value());
    ASSERT_EQ(postReport(service, reportBody("reply", args)).status, 200);

    // A wait that starts before the report arrives is woken by it.
    std::thread poster([&service] {
        Json::Value state(Json::objectValue);
        state["id"] = "3";
        Json::Value eventArgs(Json::arrayValue);
        eventArgs.append(state);
        postReport(service, reportBody("_uploadManager_groupStateChanged", eventArgs));
    });
    const std::optional<Json::Value> event =
        service.waitForPageReport(callNamed("_uploadManager_groupStateChanged"), kDeadline);
    poster.join();
    ASSERT_TRUE(event);
    EXPECT_EQ((*event)["args"][0]["id"], "3");

    const std::vector<Json::Value> reports = service.pageReports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0]["call"], "reply");
    EXPECT_EQ(reports[0]["args"], args);
    EXPECT_EQ(reports[1], *event);
    // A report that never comes ends the wait at its deadline with nothing.
    EXPECT_FALSE(service.waitForPageReport(callNamed("scenario-done"), std::chrono::milliseconds(50)));
}

TEST(TestServicePage, ReportsFromManyConnectionsAreAllKept)
{
    Watchdog watchdog("concurrent page reports");
    TestService service;
    constexpr int kThreads = 6;
    constexpr int kEach = 5;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&service, t] {
            for (int i = 0; i < kEach; ++i) {
                Json::Value args(Json::arrayValue);
                args.append(t * kEach + i);
                postReport(service, reportBody("count", args));
            }
        });
    }
    for (std::thread& poster : posters)
        poster.join();
    const std::vector<Json::Value> reports = service.pageReports();
    ASSERT_EQ(reports.size(), size_t(kThreads * kEach));
    std::vector<bool> seen(kThreads * kEach, false);
    for (const Json::Value& report : reports)
        seen.at(report["args"][0].asUInt()) = true;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), false), 0);
}

TEST(TestServicePage, RefusesReportsThatAreNotCallObjectsOrTooLargeAndKeepsNothing)
{
    Watchdog watchdog("refused page reports");
    TestService service;
    const std::string padding(kMaxPageReportBytes, 'x');
    const struct {
        const char* what;
        std::string body;
    } cases[] = {
        {"empty", ""},
        {"not JSON", "abc"},
        {"an array", "[1]"},
        {"a number call", R"({"call": 5, "args": []})"},
        {"no args", R"({"call": "x"})"},
        {"args not an array", R"({"call": "x", "args": {}})"},
        {"text after the object", R"({"call": "x", "args": []} x)"},
        {"over the cap", R"({"call": "x", "args": [")" + padding + R"("]})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(postReport(service, c.body).status, 400);
    }
    EXPECT_TRUE(service.pageReports().empty());

    // Exactly at the cap is still a report.
    const std::string frame = R"({"call": "x", "args": [""]})";
    const std::string atCap = R"({"call": "x", "args": [")" + padding.substr(frame.size()) + R"("]})";
    ASSERT_EQ(atCap.size(), kMaxPageReportBytes);
    EXPECT_EQ(postReport(service, atCap).status, 200);
    EXPECT_EQ(service.pageReports().size(), 1u);
}

TEST(TestServicePage, ServesTheFixturePagesTheDownloadAndTheRedirectToASecondOrigin)
{
    Watchdog watchdog("serving the fixture pages");
    TestService service;
    const std::string port = std::to_string(service.httpPort());
    const struct {
        const char* path;
        int status;
        const char* contentType;
        std::string header; // "Name: value" the answer must carry; empty: none
        std::string bodyHas;
    } cases[] = {
        {"/app/fixtures/links.html", 200, "text/html; charset=utf-8", "", "file:///etc/passwd"},
        {"/app/fixtures/popup.html", 200, "text/html; charset=utf-8", "", "window.open"},
        {"/app/fixtures/popup-target.html", 200, "text/html; charset=utf-8", "", "popup-target"},
        {"/app/fixtures/fileurl.html", 200, "text/html; charset=utf-8", "", "file:///etc/passwd"},
        {"/app/fixtures/iframe.html", 200, "text/html; charset=utf-8", "", "/app/fixtures/frame.html"},
        {"/app/fixtures/frame.html", 200, "text/html; charset=utf-8", "", "nativeAppBridge_IPC"},
        {"/app/fixtures/dialogs.html", 200, "text/html; charset=utf-8", "", "confirm"},
        {"/app/fixtures/download.html", 200, "text/html; charset=utf-8", "", "/app/fixtures/file.bin"},
        {"/app/fixtures/landing.html", 200, "text/html; charset=utf-8", "", "landing"},
        {"/app/fixtures/file.bin", 200, "application/octet-stream",
         "Content-Disposition: attachment; filename=\"file.bin\"", ""},
        {"/app/fixtures/redirect", 302, "text/plain",
         "Location: http://localhost:" + port + "/app/fixtures/landing.html", ""},
        {"/app/fixtures/missing.html", 404, "text/plain", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const HttpReply reply = httpExchange("GET", service.url(c.path));
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.head.getContentType(), c.contentType);
        if (!c.header.empty()) {
            const std::size_t colon = c.header.find(": ");
            EXPECT_EQ(reply.head.get(c.header.substr(0, colon), ""), c.header.substr(colon + 2));
        }
        EXPECT_NE(reply.body.find(c.bodyHas), std::string::npos);
        if (c.status == 200 && std::string(c.contentType) == "text/html; charset=utf-8") {
            // Each page carries the shared report function itself, loading nothing beside it.
            EXPECT_NE(reply.body.find("var fvReport"), std::string::npos);
            EXPECT_NE(reply.body.find("fixture-loaded"), std::string::npos);
            EXPECT_EQ(reply.body.find("report.js"), std::string::npos);
        }
    }
    EXPECT_EQ(fixturePages().size(), 9u);
}
