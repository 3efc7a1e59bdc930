#include "app/shell/RecordingHandOffTarget.h"
#include "app/shell/RecordingLogger.h"
#include "support/fixtures/TestEnvironment.h"

#include "shell/AppController.h"
#include "shell/HandOffHub.h"
#include "shell/HandOverFiles.h"
#include "shell/OstrelController.h"

#include <Poco/File.h>
#include <Poco/Path.h>
#include <gtest/gtest.h>

#include <list>
#include <string>
#include <vector>

using ferrovan::AppController;
using ferrovan::HandOffHub;
using ferrovan::OstrelController;
using fv_test::RecordingHandOffTarget;
using Events = std::vector<std::string>;

namespace {

// The hub with the program's handler over a recording page and window, and files on disk.
class HandOffHubTest : public ::testing::Test {
protected:
    HandOffHubTest()
    {
        fv_test::writeFile(a, "a");
        fv_test::writeFile(b, "b");
        Poco::File(folder).createDirectories();
    }

    void registerHandler() { ASSERT_TRUE(m_controller.registerHandler()); }

    fv_test::TempDir m_dir;
    const std::string a = m_dir.file("a b.txt");
    const std::string b = m_dir.file("\xc3\xa9t\xc3\xa9.pdf");
    const std::string folder = m_dir.file("dir");
    RecordingHandOffTarget target;
    fv_test::RecordingLogger log;
    HandOffHub hub;
    OstrelController m_controller{hub, new AppController(target, &log)};
};

} // namespace

// Each call navigates first, then hands over what survives the filter: to the ready page, or
// into the page's store with the call's own flags.
TEST_F(HandOffHubTest, EachCallTakesItsRouteAndItsFlags)
{
    struct Case {
        const char* name;
        bool share;
        std::list<std::string> paths;
        bool ready;
        Events expected;
    };
    const Case cases[] = {
        {"send, ready", false, {a, b}, true, {"route /message/new", "dropped " + a + "|" + b + " partial deferred"}},
        {"share, ready", true, {a}, true, {"route /share/new", "dropped " + a + " complete deferred"}},
        {"send, not ready",
         false,
         {a, b},
         false,
         {"route /message/new", "stored " + a + "|" + b + " partial deferred"}},
        {"share, not ready", true, {a}, false, {"route /share/new", "stored " + a + " complete deferred"}},
        {"a folder", true, {folder}, true, {"route /share/new", "dropped " + folder + " complete deferred"}},
        {"unusable paths",
         false,
         {"", "rel/x", m_dir.file("missing"), a},
         true,
         {"route /message/new", "dropped " + a + " partial deferred"}},
        {"nothing usable", false, {"", m_dir.file("missing")}, true, {"route /message/new"}},
        {"an empty list", true, {}, false, {"route /share/new"}},
    };
    registerHandler();
    for (const Case& test : cases) {
        target.events.clear();
        target.ready = test.ready;
        if (test.share)
            hub.share(test.paths);
        else
            hub.send(test.paths);
        EXPECT_EQ(test.expected, target.events) << test.name;
    }
    EXPECT_EQ(1, log.count(Poco::Message::PRIO_WARNING, "3 dropped of 4"));
}

TEST_F(HandOffHubTest, CallsBeforeTheHandlerWaitAndArriveInOrderEachWithItsOwnRoute)
{
    hub.send({a});
    hub.share({b});
    hub.send({});
    EXPECT_TRUE(target.events.empty());

    registerHandler();

    const Events expected{"route /message/new", "stored " + a + " partial deferred", "route /share/new",
                          "stored " + b + " complete deferred", "route /message/new"};
    EXPECT_EQ(expected, target.events);
}

TEST_F(HandOffHubTest, ACallArrivingWhileAnotherIsDeliveredComesAfterIt)
{
    registerHandler();
    target.ready = true;
    bool nested = false;
    target.onEvent = [&](const std::string& event) {
        if (event == "route /message/new" && !nested) {
            nested = true;
            hub.share({b});
        }
    };

    hub.send({a});

    const Events expected{"route /message/new", "dropped " + a + " partial deferred", "route /share/new",
                          "dropped " + b + " complete deferred"};
    EXPECT_EQ(expected, target.events);
}

TEST_F(HandOffHubTest, AnActivationWaitsForTheHandlerAndTheWindowAndActsOnce)
{
    hub.activateApp();
    registerHandler();
    hub.activateApp();
    EXPECT_TRUE(target.events.empty());

    hub.mainWindowShown();
    EXPECT_EQ(Events{"activate"}, target.events);

    hub.activateApp();
    EXPECT_EQ(Events({"activate", "activate"}), target.events);
}

TEST_F(HandOffHubTest, AfterTheHandlerIsReleasedCallsWaitForTheNextOne)
{
    registerHandler();
    hub.mainWindowShown();
    m_controller.release();

    hub.send({a});
    hub.activateApp();
    EXPECT_TRUE(target.events.empty());

    OstrelController next(hub, new AppController(target, &log));
    ASSERT_TRUE(next.registerHandler());
    const Events expected{"route /message/new", "stored " + a + " partial deferred", "activate"};
    EXPECT_EQ(expected, target.events);
}

TEST(HandedOverPaths, AtMostTheCapAreKeptTheFirstInOrder)
{
    fv_test::TempDir dir;
    const std::string a = dir.file("a"), b = dir.file("b"), c = dir.file("c");
    for (const std::string& path : {a, b, c})
        fv_test::writeFile(path, "x");
    std::list<std::string> paths(ferrovan::kMaxHandedOverPaths - 1, a);
    paths.push_back(b);
    paths.push_back(c);

    const ferrovan::HandedOverPaths handed = ferrovan::filterHandedOverPaths(paths);

    EXPECT_EQ(ferrovan::kMaxHandedOverPaths, handed.kept.size());
    EXPECT_EQ(b, handed.kept.back());
    EXPECT_EQ(1u, handed.dropped);
}

TEST(HandedOverPaths, OnlyAbsolutePathsOfExistingItemsAreKept)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("x"), "x");
    const std::list<std::string> paths{"",
                                       "x",
                                       "./x",
                                       dir.file("missing"),
                                       dir.file("x") + "/",
                                       dir.path(),
                                       dir.file("x"),
                                       dir.path() + "/../" + Poco::Path(dir.path()).getFileName() + "/x"};

    const ferrovan::HandedOverPaths handed = ferrovan::filterHandedOverPaths(paths);

    const std::list<std::string> expected{dir.path(), dir.file("x"), paths.back()};
    EXPECT_EQ(expected, handed.kept);
    EXPECT_EQ(paths.size() - expected.size(), handed.dropped);
}
