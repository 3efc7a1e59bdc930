#include "FvTransfersInitializer.h"
#include "core/base/StringConversion.h"
#include "core/config/FvTransfersGlobalConfig.h"
#include "core/http/CurlConnection.h"
#include "core/http/CurlGlobal.h"
#include "core/http/CurlHandleCache.h"
#include "core/http/FetchUrlContent.h"
#include "support/fixtures/FakeLogind.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/net/TestCa.h"
#include "support/service/TestService.h"

#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Process.h>
#include <Poco/URI.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

using namespace fv_transfers;

namespace {

const std::string kContent = "what the service stores";

struct Runtime : ::testing::Test {
    fv_test::NoSystemBus noBus;
    fv_test::TempDir dir;
    std::unique_ptr<fv_test::TestService> service;
    std::string url;

    void SetUp() override
    {
        CFvTransfersGlobalConfig* config = CFvTransfersGlobalConfig::getInstance();
        config->setAppFilesPath(utf8ToWide(dir.path()));
        config->setCaCertificatesFile(fv_test::TestCa::instance().caFile());
        fv_test::TestServiceOptions options;
        options.https = true;
        service = std::make_unique<fv_test::TestService>(options);
        service->model().objects().put("k", kContent);
        url = service->signedStorageUrl("k", std::chrono::seconds(600), true);
    }
    void TearDown() override { CFvTransfersInitializer::unitialize(); }

    dt_error fetch(std::string& content) { return fetchUrlContent(url, content); }
};

} // namespace

TEST_F(Runtime, TheHandleCacheNeverStartsLibcurlItself)
{
    EXPECT_THROW(CCurlHandleCache::getInstance().acquireHandle("127.0.0.1"), CCurlHandleCreateFailedException);
    EXPECT_EQ(nullptr, CCurlGlobal::current());
    std::string content;
    EXPECT_NE(dt_success, fetch(content));
    EXPECT_EQ(nullptr, CCurlGlobal::current());
}

TEST_F(Runtime, RestartWithinOneProcessServesRequestsAgainAndEndsLibcurlEachTime)
{
    for (int run = 0; run < 3; ++run) {
        ASSERT_TRUE(CFvTransfersInitializer::initialize());
        EXPECT_NE(nullptr, CCurlGlobal::current());
        std::string content;
        ASSERT_EQ(dt_success, fetch(content)) << "run " << run;
        EXPECT_EQ(kContent, content);
        CFvTransfersInitializer::unitialize();
        EXPECT_EQ(nullptr, CCurlGlobal::current()) << "run " << run;
    }
}

TEST_F(Runtime, UnitializeWithoutInitializeChangesNothing)
{
    CFvTransfersInitializer::unitialize();
    EXPECT_EQ(nullptr, CCurlGlobal::current());
    ASSERT_TRUE(CFvTransfersInitializer::initialize());
    std::string content;
    EXPECT_EQ(dt_success, fetch(content));
}

// A connection on another thread keeps working through a restart: libcurl ends only after it,
// and the requests of the new start share nothing with it.
TEST_F(Runtime, AConnectionRunningThroughARestartFinishesAndThenLibcurlEnds)
{
    ASSERT_TRUE(CFvTransfersInitializer::initialize());
    std::promise<dt_error> sent;
    std::promise<void> goOn;
    std::promise<int> answered;
    std::thread transfer([&] {
        CCurlConnection connection;
        dt_error result = connection.connect(url, false);
        if (result == dt_success) {
            Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, Poco::URI(url).getPathAndQuery());
            result = connection.sendRequest(request);
        }
        sent.set_value(result);
        goOn.get_future().wait();
        Poco::Net::HTTPResponse response;
        std::vector<char> extra;
        answered.set_value(result == dt_success && connection.receiveResponse(response, extra) == dt_success
                               ? static_cast<int>(response.getStatus())
                               : -1);
    });
    ASSERT_EQ(dt_success, sent.get_future().get());

    CFvTransfersInitializer::unitialize();
    EXPECT_NE(nullptr, CCurlGlobal::current());
    ASSERT_TRUE(CFvTransfersInitializer::initialize());
    std::string content;
    EXPECT_EQ(dt_success, fetch(content));
    EXPECT_EQ(kContent, content);
    CFvTransfersInitializer::unitialize();
    EXPECT_NE(nullptr, CCurlGlobal::current());

    goOn.set_value();
    EXPECT_EQ(200, answered.get_future().get());
    transfer.join();
    EXPECT_EQ(nullptr, CCurlGlobal::current());
}

// The environment must not point at memory that a static frees at exit: system libraries read
// it from their own exit handlers. Only a memory checker sees such a read.
TEST(RuntimeExit, ExitHandlersReadNoFreedMemory)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "valgrind cannot run a sanitized program";
#endif
    if (std::system("valgrind --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "valgrind is not installed";
    fv_test::NoSystemBus noBus;
    fv_test::TempDir dir;
    const std::string report = dir.file("valgrind.txt");
    Poco::Process::Args args = {"--error-exitcode=1", "--log-file=" + report, FV_INITIALIZE_ONCE, dir.path()};
    Poco::ProcessHandle process = Poco::Process::launch("valgrind", args);
    EXPECT_EQ(0, process.wait()) << fv_test::readFile(report);
}
