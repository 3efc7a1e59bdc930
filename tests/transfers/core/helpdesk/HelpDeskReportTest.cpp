#include "core/base/StringConversion.h"
#include "core/config/FvTransfersGlobalConfig.h"
#include "core/helpdesk/ZendeskRequestCreator.h"
#include "core/log/FvTransfersLogger.h"

#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/TransportTest.h"
#include "support/fixtures/ZipEntries.h"
#include "support/net/TestCa.h"
#include "support/service/FakeHelpDesk.h"
#include "support/service/RestFaults.h"
#include "support/service/TestService.h"

#include <gtest/gtest.h>

#include <Poco/DirectoryIterator.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <list>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace fv_transfers;
using fv_test::FakeHelpDesk;
using fv_test::TestService;
using fv_test::unzip;

namespace {

// Generous: the cap only keeps a broken build from hanging.
constexpr auto kPatience = std::chrono::seconds(30);

class RecordingCallback : public CZendeskRequestCreator::ICallback {
public:
    explicit RecordingCallback(bool throws = false) : m_throws(throws) {}

    void onReportResult(dt_error result) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_results.push_back(result);
            m_threads.push_back(std::this_thread::get_id());
        }
        m_changed.notify_all();
        if (m_throws)
            throw std::runtime_error("the caller's handler failed");
    }

    bool waitForResults(size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kPatience, [&] { return m_results.size() >= count; });
    }
    std::vector<dt_error> results()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_results;
    }
    std::vector<std::thread::id> threads()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_threads;
    }

private:
    const bool m_throws;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<dt_error> m_results;
    std::vector<std::thread::id> m_threads;
};

// Report archives left in a folder.
std::vector<std::string> archivesIn(const std::string& folder)
{
    std::vector<std::string> found;
    for (Poco::DirectoryIterator it(folder), end; it != end; ++it) {
        if (it.name().rfind("app_files", 0) == 0)
            found.push_back(it.path().toString());
    }
    return found;
}

struct HelpDeskReport : ::testing::Test {
    fv_test::TempDir input;
    fv_test::TempDir appFiles;
    TestService helpDesk;
    FakeHelpDesk fake{helpDesk};

    void SetUp() override
    {
        fv_test::prepareTransportTest();
        // Archives and the library's log go to this test's own application folder.
        CFvTransfersGlobalConfig::getInstance()->setAppFilesPath(utf8ToWide(appFiles.path()));
        CFvTransfersLogger::destroyInstance();
    }

    std::string inputFile(const std::string& name, const std::string& content)
    {
        const std::string path = input.file(name);
        fv_test::writeFile(path, content);
        return path;
    }

    // Runs one report to its end (the creator is gone when this returns).
    std::vector<dt_error> runReport(const std::list<std::string>& files, bool throwingCallback = false)
    {
        RecordingCallback callback(throwingCallback);
        {
            CZendeskRequestCreator creator(&callback);
            EXPECT_TRUE(creator.setHelpDeskUrl(helpDesk.baseUrl()));
            creator.startReportCreation(files, "Ann Example", "ann@example.org", "Upload stalls", "It stops at 40%.");
        }
        return callback.results();
    }
};

const char* const kExpectedRequest =
    "{\"request\":{\"comment\":{\"body\":\"It stops at 40%.\",\"uploads\":[\"upload-token-1\"]},"
    "\"requester\":{\"email\":\"ann@example.org\",\"name\":\"Ann Example\"},\"subject\":\"Upload stalls\"}}\n";

} // namespace

TEST_F(HelpDeskReport, ZipsTheFilesUploadsThemAndCreatesTheRequest)
{
    const std::list<std::string> files = {inputFile("fv_transfers.log", std::string(50000, 'x') + "end"),
                                          inputFile("Ferrovan.log", "app log")};
    RecordingCallback callback;
    CZendeskRequestCreator creator(&callback);
    ASSERT_TRUE(creator.setHelpDeskUrl(helpDesk.baseUrl()));
    creator.startReportCreation(files, "Ann Example", "ann@example.org", "Upload stalls", "It stops at 40%.");
    ASSERT_TRUE(callback.waitForResults(1));
    EXPECT_EQ(std::vector<dt_error>{dt_success}, callback.results());
    EXPECT_NE(std::this_thread::get_id(), callback.threads().at(0));

    const std::vector<FakeHelpDesk::Upload> uploads = fake.uploads();
    ASSERT_EQ(1u, uploads.size());
    EXPECT_EQ("app_files.zip", uploads[0].fileName);
    EXPECT_EQ("application/binary", uploads[0].contentType);
    const std::map<std::string, std::string> expectedEntries = {{"fv_transfers.log", std::string(50000, 'x') + "end"},
                                                                {"Ferrovan.log", "app log"}};
    EXPECT_EQ(expectedEntries, unzip(uploads[0].body));

    EXPECT_EQ(std::vector<std::string>{kExpectedRequest}, fake.requests());
    const std::vector<fv_test::LoggedRequest> logged = helpDesk.log().forPath("/api/v2/requests.json");
    ASSERT_EQ(1u, logged.size());
    size_t contentTypes = 0;
    for (const auto& field : logged[0].headers.fields())
        contentTypes += fv_test::equalsIgnoreCase(field.first, "Content-Type") ? 1 : 0;
    EXPECT_EQ(1u, contentTypes);
    EXPECT_EQ("application/json", logged[0].headers.get("Content-Type"));
    EXPECT_TRUE(archivesIn(appFiles.path()).empty()) << "the archive outlived its report";
}

TEST_F(HelpDeskReport, TheArchiveIsAPrivateFileOfTheApplicationFolder)
{
    std::vector<std::string> during;
    mode_t mode = 0;
    fake.onUpload([&](const FakeHelpDesk::Upload&) {
        during = archivesIn(appFiles.path());
        struct stat info {};
        if (during.size() == 1 && ::lstat(during[0].c_str(), &info) == 0)
            mode = info.st_mode;
    });
    EXPECT_EQ(std::vector<dt_error>{dt_success}, runReport({inputFile("a.log", "a")}));
    ASSERT_EQ(1u, during.size());
    EXPECT_TRUE(S_ISREG(mode));
    EXPECT_EQ(0600u, mode & 0777);
    EXPECT_TRUE(archivesIn(appFiles.path()).empty());
}

TEST_F(HelpDeskReport, WorksOverHttps)
{
    fv_test::TestServiceOptions options;
    options.http = false;
    options.https = true;
    TestService secureDesk(options);
    FakeHelpDesk secureFake(secureDesk);
    CFvTransfersGlobalConfig::getInstance()->setCaCertificatesFile(fv_test::TestCa::instance().caFile());
    RecordingCallback callback;
    {
        CZendeskRequestCreator creator(&callback);
        ASSERT_TRUE(creator.setHelpDeskUrl(secureDesk.secureBaseUrl()));
        creator.startReportCreation({inputFile("a.log", "over TLS")}, "Ann Example", "ann@example.org", "Upload stalls",
                                    "It stops at 40%.");
    }
    EXPECT_EQ(std::vector<dt_error>{dt_success}, callback.results());
    ASSERT_EQ(1u, secureFake.uploads().size());
    EXPECT_EQ((std::map<std::string, std::string>{{"a.log", "over TLS"}}), unzip(secureFake.uploads()[0].body));
    EXPECT_EQ(std::vector<std::string>{kExpectedRequest}, secureFake.requests());
}

TEST_F(HelpDeskReport, BadAnswersGiveTheirCodes)
{
    struct Case {
        const char* name;
        const char* path;
        fv_test::Fault fault;
        dt_error expected;
        bool requestMade;
    };
    const Json::Value attachmentToken(5);
    const std::vector<Case> cases = {
        {"upload without \"upload\"", "/api/v2/uploads.json", fv_test::rest_faults::removeMember("upload"),
         dt_general_error, false},
        {"upload without token", "/api/v2/uploads.json", fv_test::rest_faults::removeMember("upload.token"),
         dt_general_error, false},
        {"token not a string", "/api/v2/uploads.json", fv_test::rest_faults::setMember("upload.token", attachmentToken),
         dt_general_error, false},
        {"\"upload\" not an object", "/api/v2/uploads.json", fv_test::rest_faults::setMember("upload", "x"),
         dt_general_error, false},
        {"upload answer cut short", "/api/v2/uploads.json", fv_test::rest_faults::malformedJson(), dt_general_error,
         false},
        {"upload 500", "/api/v2/uploads.json", fv_test::rest_faults::htmlError(500), dt_network_error, false},
        {"upload 302", "/api/v2/uploads.json", fv_test::Fault::statusCode(302), dt_network_error, false},
        {"request 422", "/api/v2/requests.json", fv_test::rest_faults::jsonError(422, Json::Value("RecordInvalid")),
         dt_rest_client_error, true},
        {"request 503", "/api/v2/requests.json", fv_test::rest_faults::htmlError(503), dt_general_error, true},
        {"request answer not JSON", "/api/v2/requests.json", fv_test::rest_faults::malformedJson(), dt_general_error,
         true},
    };
    for (const Case& c : cases) {
        TestService desk;
        FakeHelpDesk deskFake(desk);
        desk.faults().add({"POST", c.path, 1, 1, c.fault});
        RecordingCallback callback;
        {
            CZendeskRequestCreator creator(&callback);
            ASSERT_TRUE(creator.setHelpDeskUrl(desk.baseUrl()));
            creator.startReportCreation({inputFile("a.log", "a")}, "n", "e@example.org", "s", "d");
        }
        EXPECT_EQ(std::vector<dt_error>{c.expected}, callback.results()) << c.name;
        EXPECT_EQ(c.requestMade ? 1u : 0u, desk.log().forPath("/api/v2/requests.json").size()) << c.name;
    }
    EXPECT_TRUE(archivesIn(appFiles.path()).empty());
}

TEST_F(HelpDeskReport, AMissingInputFileFailsBeforeAnyHttpCall)
{
    EXPECT_EQ(std::vector<dt_error>{dt_general_error}, runReport({inputFile("a.log", "a"), input.file("no-such.log")}));
    EXPECT_EQ(0u, helpDesk.log().connectionsAccepted());
    EXPECT_TRUE(archivesIn(appFiles.path()).empty());
}

TEST_F(HelpDeskReport, WithoutACallbackTheReportStillRuns)
{
    {
        CZendeskRequestCreator creator(nullptr);
        ASSERT_TRUE(creator.setHelpDeskUrl(helpDesk.baseUrl()));
        creator.startReportCreation({inputFile("a.log", "a")}, "Ann Example", "ann@example.org", "Upload stalls",
                                    "It stops at 40%.");
        creator.startReportCreation({input.file("missing.log")}, "n", "e", "s", "d");
    }
    EXPECT_EQ(std::vector<std::string>{kExpectedRequest}, fake.requests());
}

TEST_F(HelpDeskReport, AThrowingCallbackIsCalledOnce)
{
    EXPECT_EQ(std::vector<dt_error>{dt_success}, runReport({inputFile("a.log", "a")}, true));
    EXPECT_EQ(std::vector<dt_error>{dt_general_error}, runReport({input.file("missing.log")}, true));

    RecordingCallback callback(true);
    CZendeskRequestCreator creator(&callback);
    ASSERT_TRUE(creator.setHelpDeskUrl(helpDesk.baseUrl()));
    creator.createReport({inputFile("b.log", "b")}, "n", "e@example.org", "s", "d");
    EXPECT_EQ(std::vector<dt_error>{dt_success}, callback.results());
    EXPECT_EQ(std::this_thread::get_id(), callback.threads().at(0));
}

TEST_F(HelpDeskReport, ASecondReportNeitherWaitsForNorClobbersTheFirst)
{
    std::promise<void> firstArrived;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> firstHeld{true};
    std::atomic<int> uploadsSeen{0};
    std::vector<std::string> archivesDuringSecond;
    fake.onUpload([&](const FakeHelpDesk::Upload&) {
        if (uploadsSeen++ == 0) {
            firstArrived.set_value();
            released.wait_for(kPatience); // holds the first report in its upload
            firstHeld = false;
        } else {
            archivesDuringSecond = archivesIn(appFiles.path());
        }
    });

    RecordingCallback callback;
    CZendeskRequestCreator creator(&callback);
    ASSERT_TRUE(creator.setHelpDeskUrl(helpDesk.baseUrl()));
    creator.startReportCreation({inputFile("first.log", "first report")}, "A", "a@example.org", "first", "1");
    ASSERT_EQ(std::future_status::ready, firstArrived.get_future().wait_for(kPatience));

    // The same creator starts more reports while the first one is held.
    creator.startReportCreation({inputFile("second.log", "second report")}, "B", "b@example.org", "second", "2");
    EXPECT_TRUE(firstHeld) << "starting a report waited for the one before";
    ASSERT_TRUE(callback.waitForResults(1));
    EXPECT_EQ(2u, archivesDuringSecond.size()) << "the reports shared an archive";
    creator.startReportCreation({input.file("missing.log")}, "C", "c@example.org", "third", "3");
    ASSERT_TRUE(callback.waitForResults(2));
    EXPECT_TRUE(firstHeld);
    EXPECT_EQ((std::vector<dt_error>{dt_success, dt_general_error}), callback.results());

    release.set_value();
    ASSERT_TRUE(callback.waitForResults(3));
    EXPECT_EQ((std::vector<dt_error>{dt_success, dt_general_error, dt_success}), callback.results());
    const std::vector<FakeHelpDesk::Upload> uploads = fake.uploads();
    ASSERT_EQ(2u, uploads.size());
    EXPECT_EQ((std::map<std::string, std::string>{{"first.log", "first report"}}), unzip(uploads[0].body));
    EXPECT_EQ((std::map<std::string, std::string>{{"second.log", "second report"}}), unzip(uploads[1].body));
    EXPECT_TRUE(archivesIn(appFiles.path()).empty());
}

TEST(HelpDeskUrl, OnlyAPlainHttpBaseIsTaken)
{
    CZendeskRequestCreator creator(nullptr);
    EXPECT_EQ(kDefaultHelpDeskUrl, creator.getHelpDeskUrl());
    EXPECT_EQ(0u, std::string(kDefaultHelpDeskUrl).rfind("https://", 0));
    EXPECT_TRUE(creator.setHelpDeskUrl("http://127.0.0.1:8080/"));
    EXPECT_EQ("http://127.0.0.1:8080", creator.getHelpDeskUrl());
    for (const char* refused :
         {"", "127.0.0.1", "ftp://host", "http://", "http://host/api", "http://host?x=1", "http://host#f",
          "http://user:pw@host", "http://host\r\nX-Injected: 1", "http://ho st"}) {
        EXPECT_FALSE(creator.setHelpDeskUrl(refused)) << refused;
        EXPECT_EQ("http://127.0.0.1:8080", creator.getHelpDeskUrl()) << refused;
    }
}

TEST_F(HelpDeskReport, TheAttachmentTokenNeverReachesTheLog)
{
    for (const bool verbose : {false, true}) {
        CFvTransfersGlobalConfig::getInstance()->setVerboseLogging(verbose);
        EXPECT_EQ(std::vector<dt_error>{dt_success}, runReport({inputFile("a.log", "a")}));
    }
    CFvTransfersLogger::destroyInstance();
    const std::string log = fv_test::readFile(appFiles.file("fv_transfers.log"));
    EXPECT_NE(std::string::npos, log.find("Creating an error report..."));
    EXPECT_NE(std::string::npos, log.find("[Trace]"));
    EXPECT_EQ(std::string::npos, log.find("upload-token-")) << log;
}
