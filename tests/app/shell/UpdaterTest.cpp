#include "app/shell/FeedBundleInfo.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"
#include "support/net/TestCa.h"
#include "support/service/TestService.h"

#include "shell/AppSettings.h"
#include "shell/AppcastFeed.h"
#include "shell/CommandLineArguments.h"
#include "shell/Updater.h"
#include "shell/UpdaterDialog.h"
#include "shell/UpdaterLoop.h"
#include "shell/VersionNumber.h"

#include <Poco/SharedPtr.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

using namespace fv_test;
using ferrovan::AppcastFeed;
using ferrovan::AppcastItem;
using ferrovan::AppSettings;
using ferrovan::CommandLineArguments;
using ferrovan::Updater;
using ferrovan::VersionNumber;

namespace {

// The test thread plays the UI thread: it runs what the updater posts, when it chooses to.
struct LoopState {
    std::mutex mutex;
    std::condition_variable posted;
    std::deque<std::function<void()>> tasks;
    unsigned repeatSeconds = 0; // 0: no timer
    std::function<void()> tick;
    unsigned stops = 0;

    // Runs the next posted task; false when none came in time.
    bool runNext(std::chrono::seconds deadline = std::chrono::seconds(30))
    {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (!posted.wait_for(lock, deadline, [this] { return !tasks.empty(); }))
                return false;
            task = std::move(tasks.front());
            tasks.pop_front();
        }
        task();
        return true;
    }
    std::size_t pending()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return tasks.size();
    }
};

class FakeLoop : public ferrovan::IUpdaterLoop {
public:
    explicit FakeLoop(std::shared_ptr<LoopState> state) : m_state(std::move(state)) {}
    void post(std::function<void()> task) override
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->tasks.push_back(std::move(task));
        m_state->posted.notify_all();
    }
    void startRepeating(unsigned seconds, std::function<void()> tick) override
    {
        m_state->repeatSeconds = seconds;
        m_state->tick = std::move(tick);
    }
    void stopRepeating() override
    {
        m_state->repeatSeconds = 0;
        m_state->tick = nullptr;
        ++m_state->stops;
    }

private:
    std::shared_ptr<LoopState> m_state;
};

// What the user was told, one line per box: "offer:<text>|<page>" or "message:<text>".
using Told = std::vector<std::string>;

class FakeDialog : public ferrovan::IUpdaterDialog {
public:
    explicit FakeDialog(std::shared_ptr<Told> told) : m_told(std::move(told)) {}
    void offerUpdate(const std::string& text, const std::string& downloadPage) override
    {
        m_told->push_back("offer:" + text + "|" + downloadPage);
    }
    void showMessage(const std::string& text) override { m_told->push_back("message:" + text); }

private:
    std::shared_ptr<Told> m_told;
};

const char* const kUpToDate = "message:Ferrovan is up to date.";
const char* const kCouldNotCheck = "message:Could not check for updates.";

// An item with the versions as enclosure attributes, or as elements of the item.
std::string item(const std::string& version, const std::string& shortVersion, const std::string& notes,
                 bool asElements = false)
{
    const std::string enclosureUrl = "https://example.test/ferrovan-" + version + ".deb";
    std::string xml = "<item><title>Ferrovan " + version + "</title>";
    if (!notes.empty())
        xml += "<up:releaseNotesLink>" + notes + "</up:releaseNotesLink>";
    if (asElements) {
        xml += "<up:version>" + version + "</up:version>";
        if (!shortVersion.empty())
            xml += "<up:shortVersionString>" + shortVersion + "</up:shortVersionString>";
        xml += "<enclosure url=\"" + enclosureUrl + "\" type=\"application/octet-stream\"/>";
    } else {
        xml += "<enclosure url=\"" + enclosureUrl + "\" up:version=\"" + version + "\"";
        if (!shortVersion.empty())
            xml += " up:shortVersionString=\"" + shortVersion + "\"";
        xml += " type=\"application/octet-stream\"/>";
    }
    return xml + "</item>";
}

std::string feed(const std::string& items)
{
    return std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" xmlns:up=\"") +
           AppcastFeed::kNamespace + "\"><channel><title>Ferrovan</title>" + items + "</channel></rss>";
}

TestServiceOptions httpsOptions()
{
    TestServiceOptions options;
    options.https = true;
    return options;
}

TestServiceOptions untrustedOptions()
{
    TestServiceOptions options = httpsOptions();
    options.certificateFile = TestCa::instance().untrustedCertFile();
    options.privateKeyFile = TestCa::instance().untrustedKeyFile();
    return options;
}

void serve(TestService& service, const std::string& path, const std::string& body)
{
    service.routes().add("GET", path, [body](ServiceRequest&, ServiceResponse& response) {
        response.setBody(200, body, "application/rss+xml");
    });
}

class UpdaterTest : public ::testing::Test {
protected:
    // An updater of version `current` reading the feed at `feedUrl`, the test CA trusted.
    std::unique_ptr<Updater> makeUpdater(const std::string& current, const std::string& feedUrl,
                                         std::chrono::milliseconds timeout = std::chrono::seconds(30))
    {
        Updater::Parts parts;
        parts.loop = std::make_unique<FakeLoop>(m_loop);
        parts.dialog = std::make_unique<FakeDialog>(m_told);
        parts.caFile = TestCa::instance().caFile();
        parts.limits.timeout = timeout;
        return std::make_unique<Updater>(Poco::makeShared<FeedBundleInfo>(current, feedUrl), std::move(parts));
    }

    // Runs one check and the task it posts, as the UI loop would; what the user was told.
    Told check(Updater& updater, bool interactive)
    {
        m_told->clear();
        if (interactive)
            updater.checkForUpdatesWithUi();
        else
            updater.checkForUpdatesSilently();
        EXPECT_TRUE(m_loop->runNext()) << "the check never reported back";
        return *m_told;
    }

    AppSettings settingsWithAutoUpdates(bool enabled)
    {
        writeFile(m_dir.file("fv_settings.json"),
                  std::string("{\"autoUpdatesEnabled\": ") + (enabled ? "true" : "false") + "}");
        return AppSettings(m_dir.file("fv_settings.json"));
    }

    TempDir m_dir;
    std::shared_ptr<LoopState> m_loop = std::make_shared<LoopState>();
    std::shared_ptr<Told> m_told = std::make_shared<Told>();
};

} // namespace

TEST(VersionNumber, ComparesDottedNumbersPartByPart)
{
    struct Case {
        const char* a;
        const char* b;
        int order;
    };
    const Case cases[] = {
        {"4.1.10", "4.1.9", 1},
        {"4.10", "4.9", 1},
        {"4.1", "4.1.0", 0},
        {"4.1.0.0", "4.1", 0},
        {"04.01", "4.1", 0},
        {"4.1.9", "4.2", -1},
        {"3.99.99", "4.0", -1},
        {"0", "0.0.0", 0},
        {"4.1.1", "4.1", 1},
        {"5", "4.99.99", 1},
        {"123456789012345678901.0", "123456789012345678900.9", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        const std::optional<VersionNumber> a = VersionNumber::parse(c.a);
        const std::optional<VersionNumber> b = VersionNumber::parse(c.b);
        ASSERT_TRUE(a && b);
        EXPECT_EQ(c.order, a->compare(*b));
        EXPECT_EQ(-c.order, b->compare(*a));
    }
}

TEST(VersionNumber, AnythingButDottedNumbersIsNoVersion)
{
    for (const char* text : {"4.1-beta", "", "4..1", "4.1.", ".4", "v4.1", "4.1 ", " 4.1", "4,1", "-4.1", "4.1a"})
        EXPECT_FALSE(VersionNumber::parse(text)) << '"' << text << '"';
}

TEST(AppcastFeed, ReadsEachItemInEitherFormAndPicksTheHighestNumericVersion)
{
    const AppcastFeed parsed =
        AppcastFeed::parse(feed(item("4.1.9", "4.1.9", "https://example.test/notes/4.1.9") +
                                item("4.1.10", "4.1.10 (Autumn)", "", true) + item("9.0-beta", "9 beta", "")));

    ASSERT_EQ(3u, parsed.items().size());
    const AppcastItem& second = parsed.items()[1];
    EXPECT_EQ("4.1.10", second.version);
    EXPECT_EQ("4.1.10 (Autumn)", second.shortVersion);
    EXPECT_EQ("", second.releaseNotesLink);
    EXPECT_EQ("https://example.test/ferrovan-4.1.10.deb", second.enclosureUrl);
    EXPECT_EQ("https://example.test/notes/4.1.9", parsed.items()[0].releaseNotesLink);
    ASSERT_TRUE(parsed.newest());
    EXPECT_EQ("4.1.10", parsed.newest()->item.version);
}

TEST(AppcastFeed, RefusesWhatIsNotAnRssChannel)
{
    for (const char* text : {"<rss><channel>", "not xml at all", "<html><body/></html>", "<rss version=\"2.0\"/>", ""})
        EXPECT_THROW(AppcastFeed::parse(text), ferrovan::MalformedAppcast) << text;
    EXPECT_FALSE(AppcastFeed::parse(feed("")).newest());
}

// Silent checks only offer a newer release; checks the user asked for also say when there is
// none or the feed could not be used. A feed that is not https, not verified, redirected,
// oversized, late or too slow as a whole counts as unusable.
TEST_F(UpdaterTest, TellsWhatTheFeedOffers)
{
    Watchdog watchdog("update checks", std::chrono::seconds(100));
    TestService service(httpsOptions());
    TestService untrusted(untrustedOptions());
    const std::string newerFeed = feed(item("4.1.8", "4.1.8", "https://example.test/notes/4.1.8") +
                                       item("4.1.10", "4.1.10", "https://example.test/notes/4.1.10"));
    serve(service, "/newer.xml", newerFeed);
    serve(service, "/plain.xml", feed(item("4.2.0", "", "", true)));
    serve(service, "/same.xml", feed(item("4.1.9", "4.1.9", "")));
    serve(service, "/older.xml", feed(item("4.1.8", "4.1.8", "")));
    serve(service, "/labels.xml", feed(item("5.0-beta", "5 beta", "") + item("4.1.8", "4.1.8", "")));
    serve(service, "/malformed.xml", "<rss version=\"2.0\"><channel><item>");
    serve(service, "/huge.xml", feed(item("4.1.10", "4.1.10", "") + "<!--" + std::string(2 << 20, 'x') + "-->"));
    serve(service, "/stalled.xml", newerFeed);
    service.faults().add(FaultRule{"GET", "/stalled.xml", 1, 0, Fault::stall()});
    // Every receive gets a byte well within the time-out; the whole answer would take half a minute.
    serve(service, "/trickled.xml", newerFeed);
    service.faults().add(FaultRule{"GET", "/trickled.xml", 1, 0, Fault::trickle(1, 50)});
    serve(untrusted, "/newer.xml", newerFeed);

    const std::string offer = "offer:Ferrovan 4.1.10 is available. You have 4.1.9.|https://example.test/notes/4.1.10";
    struct Case {
        const char* name;
        std::string url;
        std::string silent; // "": nothing told
        std::string interactive;
        std::string neverAsked; // a path the service must never see
    };
    const Case cases[] = {
        {"newer", service.url("/newer.xml", true), offer, offer, ""},
        {"newer without notes or short version", service.url("/plain.xml", true),
         "offer:Ferrovan 4.2.0 is available. You have 4.1.9.|https://example.test/ferrovan-4.2.0.deb",
         "offer:Ferrovan 4.2.0 is available. You have 4.1.9.|https://example.test/ferrovan-4.2.0.deb", ""},
        {"same", service.url("/same.xml", true), "", kUpToDate, ""},
        {"older", service.url("/older.xml", true), "", kUpToDate, ""},
        {"a newer label that is no version", service.url("/labels.xml", true), "", kUpToDate, ""},
        {"malformed", service.url("/malformed.xml", true), "", kCouldNotCheck, ""},
        {"over 1 MiB", service.url("/huge.xml", true), "", kCouldNotCheck, ""},
        {"missing", service.url("/missing.xml", true), "", kCouldNotCheck, ""},
        {"redirected", service.redirectUrl(service.url("/newer.xml", true), true), "", kCouldNotCheck, "/newer.xml"},
        {"stalled", service.url("/stalled.xml", true), "", kCouldNotCheck, ""},
        {"trickled", service.url("/trickled.xml", true), "", kCouldNotCheck, ""},
        {"untrusted certificate", untrusted.url("/newer.xml", true), "", kCouldNotCheck, ""},
        {"http", service.url("/newer.xml", false), "", kCouldNotCheck, "/newer.xml"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service.log().clear();
        const std::unique_ptr<Updater> updater = makeUpdater("4.1.9", c.url, std::chrono::seconds(3));

        const Told silent = check(*updater, false);
        const Told interactive = check(*updater, true);

        EXPECT_EQ(c.silent.empty() ? Told{} : Told{c.silent}, silent);
        EXPECT_EQ(Told{c.interactive}, interactive);
        if (!c.neverAsked.empty()) {
            EXPECT_TRUE(service.log().forPath(c.neverAsked).empty());
        }
    }
}

TEST_F(UpdaterTest, AutomaticChecksRunAtOnceAndThenEveryFourHours)
{
    Watchdog watchdog("automatic checks", std::chrono::seconds(60));
    TestService service(httpsOptions());
    serve(service, "/feed.xml", feed(item("4.1.10", "4.1.10", "https://example.test/notes")));
    const std::unique_ptr<Updater> updater = makeUpdater("4.1.9", service.url("/feed.xml", true));

    EXPECT_TRUE(updater->startAutomaticChecks(settingsWithAutoUpdates(true), CommandLineArguments()));
    ASSERT_TRUE(m_loop->runNext());
    EXPECT_EQ(1u, service.log().forPath("/feed.xml").size());
    EXPECT_EQ(Updater::kCheckIntervalSeconds, m_loop->repeatSeconds);
    EXPECT_EQ(14400u, m_loop->repeatSeconds);

    m_loop->tick();
    ASSERT_TRUE(m_loop->runNext());
    EXPECT_EQ(2u, service.log().forPath("/feed.xml").size());
    EXPECT_EQ(2u, m_told->size());

    updater->cleanup();
    EXPECT_EQ(0u, m_loop->repeatSeconds);
    EXPECT_EQ(1u, m_loop->stops);
}

// The user's switch and the command-line option each keep the program from asking the feed on
// its own, but a check the user asks for still runs.
TEST_F(UpdaterTest, EitherSwitchKeepsAutomaticChecksOffButNotTheUsersOwn)
{
    Watchdog watchdog("switched-off checks", std::chrono::seconds(60));
    TestService service(httpsOptions());
    serve(service, "/feed.xml", feed(item("4.1.9", "4.1.9", "")));
    const CommandLineArguments none;
    CommandLineArguments withOption;
    withOption.stringOptions[CommandLineArguments::kDisableAutoupdate] = ""; // any value counts
    CommandLineArguments withOptionValue;
    withOptionValue.stringOptions[CommandLineArguments::kDisableAutoupdate] = "false";
    struct Case {
        const char* name;
        bool setting;
        const CommandLineArguments& arguments;
    };
    const Case cases[] = {
        {"setting off", false, none},
        {"option without a value", true, withOption},
        {"option with a value", true, withOptionValue},
        {"both", false, withOption},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service.log().clear();
        const std::unique_ptr<Updater> updater = makeUpdater("4.1.9", service.url("/feed.xml", true));

        EXPECT_FALSE(Updater::automaticChecksAllowed(settingsWithAutoUpdates(c.setting), c.arguments));
        EXPECT_FALSE(updater->startAutomaticChecks(settingsWithAutoUpdates(c.setting), c.arguments));
        EXPECT_EQ(0u, m_loop->repeatSeconds);
        EXPECT_EQ(0u, m_loop->pending());
        EXPECT_EQ(0u, service.log().size());

        EXPECT_EQ(Told{kUpToDate}, check(*updater, true));
        EXPECT_EQ(1u, service.log().size());
    }
}

TEST_F(UpdaterTest, NothingIsToldAfterCleanup)
{
    Watchdog watchdog("cleanup", std::chrono::seconds(60));
    TestService service(httpsOptions());
    serve(service, "/feed.xml", feed(item("4.1.10", "4.1.10", "")));
    service.faults().add(FaultRule{"GET", "/feed.xml", 1, 0, Fault::stall()});
    // Long enough for a handshake on a loaded machine: the request must arrive.
    const std::unique_ptr<Updater> updater =
        makeUpdater("4.1.9", service.url("/feed.xml", true), std::chrono::seconds(3));

    updater->checkForUpdatesWithUi();
    ASSERT_TRUE(service.log().waitForRequests(1, std::chrono::seconds(30)));
    updater->cleanup();
    while (m_loop->runNext(std::chrono::seconds(0))) {
    }
    updater->checkForUpdatesWithUi();

    EXPECT_TRUE(m_told->empty());
    EXPECT_EQ(0u, m_loop->pending());
    EXPECT_EQ(1u, service.log().size());
}

// A check asked for while one runs joins it, and the user is told its result.
TEST_F(UpdaterTest, AskingDuringASilentCheckTellsItsResult)
{
    Watchdog watchdog("overlapping checks", std::chrono::seconds(60));
    TestService service(httpsOptions());
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    const std::string body = feed(item("4.1.9", "4.1.9", ""));
    service.routes().add("GET", "/feed.xml", [released, body](ServiceRequest&, ServiceResponse& response) {
        released.wait_for(std::chrono::seconds(30));
        response.setBody(200, body, "application/rss+xml");
    });
    const std::unique_ptr<Updater> updater = makeUpdater("4.1.9", service.url("/feed.xml", true));

    updater->checkForUpdatesSilently();
    ASSERT_TRUE(service.log().waitForRequests(1, std::chrono::seconds(30)));
    updater->checkForUpdatesWithUi();
    release.set_value();
    ASSERT_TRUE(m_loop->runNext());

    EXPECT_EQ(Told{kUpToDate}, *m_told);
    EXPECT_EQ(1u, service.log().size());
}
