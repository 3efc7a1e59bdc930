#include "core/base/DtError.h"
#include "core/config/FvTransfersGlobalConfig.h"
#include "core/log/FvTransfersLogger.h"
#include "core/rest/RestApiMultiPartUploadComplete.h"
#include "core/rest/RestApiMultiPartUploadInitialize.h"
#include "db/ChannelsDbInfo.h"
#include "db/DbConnection.h"
#include "framework/TransferBufferManagerFactory.h"
#include "framework/TransferFileBase.h"
#include "upload/UploadChannel.h"
#include "support/fixtures/EventRecorder.h"
#include "support/fixtures/TestBytes.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/TransportTest.h"
#include "support/fixtures/Watchdog.h"
#include "support/net/ScriptedServer.h"
#include "support/net/TestCa.h"
#include "support/service/RestRoutes.h"
#include "support/service/TestService.h"

#include <Poco/Delegate.h>
#include <Poco/String.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

using namespace fv_transfers;
using fv_test::EventRecorder;
using fv_test::Fault;
using fv_test::FaultRule;
using fv_test::LoggedRequest;
using fv_test::TempDir;
using fv_test::TestService;
using fv_test::Watchdog;

namespace {

using State = ITransferChannel::State;
using Event = ITransferChannel::StateEventData;

// The file a channel belongs to, and the source of its upload details: by default it leaves
// the channel's URL and headers as they are.
class TestFile : public CTransferFileBase, public IUploadDetailsSource {
public:
    void getFileUid(std::string& uid) override { uid = "file-uid"; }
    void getBucketId(std::string& bucketId) override { bucketId = "bucket"; }
    int getGroupId() override { return 7; }
    int getUploadDetails(std::string& url, RestHeaderList& headers, std::vector<unsigned char>& md5) override
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        ++m_calls;
        if (!m_url.empty())
            url = m_url;
        if (!m_headers.empty())
            headers = m_headers;
        md5 = m_md5;
        return m_result;
    }
    void give(const std::string& url, const RestHeaderList& headers, const std::vector<unsigned char>& md5,
              int result = 0)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_url = url;
        m_headers = headers;
        m_md5 = md5;
        m_result = result;
    }
    int calls()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_calls;
    }

private:
    std::mutex m_mutex;
    std::string m_url;
    RestHeaderList m_headers;
    std::vector<unsigned char> m_md5;
    int m_result = 0;
    int m_calls = 0;
};

// The end of a run: its last event, once that is neither running nor paused.
class RunRecorder {
public:
    void onState(const void*, Event& event) { m_events.record(event); }
    // The first end event after `skip` events ({-1, -1} when none came in time).
    Event endAfter(std::size_t skip = 0)
    {
        for (std::size_t count = skip + 1;; ++count) {
            if (!m_events.waitForCount(count, 60000))
                return {-1, -1};
            const Event event = m_events.values()[count - 1];
            if (event.state != State::stateRunning && event.state != State::statePaused)
                return event;
        }
    }
    // Whether the run entered its paused wait.
    bool paused()
    {
        for (std::size_t count = 1;; ++count) {
            if (!m_events.waitForCount(count, 60000))
                return false;
            if (m_events.values()[count - 1].state == State::statePaused)
                return true;
        }
    }
    std::size_t count() const { return m_events.values().size(); }

private:
    EventRecorder<Event> m_events;
};

// The total of the progress of several channels; never below 0 nor above the size.
class ProgressTotal {
public:
    explicit ProgressTotal(std::int64_t size) : m_size(size) {}
    void onProgress(const void*, Poco::Int64& bytes)
    {
        const std::int64_t total = m_total += bytes;
        if (bytes < 0)
            ++m_takeBacks;
        EXPECT_GE(total, 0);
        EXPECT_LE(total, m_size);
    }
    std::int64_t total() const { return m_total.load(); }
    int takeBacks() const { return m_takeBacks.load(); }
    void reset() { m_total = 0; }

private:
    const std::int64_t m_size;
    std::atomic<std::int64_t> m_total{0};
    std::atomic<int> m_takeBacks{0};
};

std::string libraryLog()
{
    return fv_test::readFile(getLogFilePath());
}

std::vector<std::string> headerNames(const LoggedRequest& request)
{
    std::vector<std::string> names;
    for (const auto& field : request.headers.fields())
        names.push_back(Poco::toLower(field.first));
    return names;
}

// The position of each of `names` among the request's headers, in that order.
bool inOrder(const LoggedRequest& request, const std::vector<std::string>& names)
{
    const std::vector<std::string> all = headerNames(request);
    auto from = all.begin();
    for (const std::string& name : names) {
        from = std::find(from, all.end(), name);
        if (from == all.end())
            return false;
    }
    return true;
}

fv_test::TestServiceOptions serviceOptions(bool ignoreExpect = false)
{
    fv_test::TestServiceOptions options;
    options.https = true;
    options.requireSignedStorage = false;
    options.storageIgnoresExpect = ignoreExpect;
    return options;
}

// A local file, a channels table, a test service over HTTP or HTTPS (the parameter).
class UploadChannelTest : public ::testing::TestWithParam<bool> {
protected:
    static constexpr std::size_t kFileSize = 256 * 1024;
    static constexpr std::uint64_t kOffset = 65536;
    static constexpr std::uint64_t kRangeSize = 131072;

    UploadChannelTest()
    {
        fv_test::prepareTransportTest();
        CFvTransfersGlobalConfig::getInstance()->setCaCertificatesFile(fv_test::TestCa::instance().caFile());
        m_content = fv_test::patternedBytes(kFileSize);
        m_path = m_dir.file("local");
        fv_test::writeFile(m_path, m_content);
        std::string error;
        m_db = CDbConnection::open(m_dir.file("t.db"), CDbConnection::kBusyTimeoutSeconds, error);
        m_table = std::make_shared<CChannelsDbInfo>(m_db);
        m_buffers = createTransferBufferManager(0);
        m_buffers->init(8 * 1024 * 1024);
        m_seams.firstBackOff = std::chrono::milliseconds(1);
        m_seams.maxBackOff = std::chrono::milliseconds(2);
    }

    bool secure() const { return GetParam(); }
    std::string range(std::uint64_t offset = kOffset, std::uint64_t size = kRangeSize) const
    {
        return m_content.substr(offset, size);
    }

    std::unique_ptr<CUploadChannel> makeChannel(const std::string& url, std::uint64_t offset = kOffset,
                                                std::uint64_t size = kRangeSize, const RestHeaderList& headers = {},
                                                bool storeRow = true, const std::string& path = "")
    {
        ChannelDescription description{path.empty() ? m_path : path, offset, size, "ul", ""};
        auto channel = std::make_unique<CUploadChannel>(url, description, headers, &m_file, &m_file, 1, m_buffers,
                                                        m_table, storeRow, m_seams);
        channel->stateEvent += Poco::delegate(&m_run, &RunRecorder::onState);
        channel->progressEvent += Poco::delegate(&m_progress, &ProgressTotal::onProgress);
        return channel;
    }

    std::vector<CChannelsDbInfo::ChannelInfo> rows()
    {
        std::vector<CChannelsDbInfo::ChannelInfo> stored;
        m_table->selectAll(stored);
        return stored;
    }

    TempDir m_dir;
    std::string m_content;
    std::string m_path;
    std::shared_ptr<CDbConnection> m_db;
    std::shared_ptr<CChannelsDbInfo> m_table;
    std::shared_ptr<ITransferBufferManager> m_buffers;
    ChannelSeams m_seams;
    TestFile m_file;
    RunRecorder m_run;
    ProgressTotal m_progress{static_cast<std::int64_t>(kFileSize)};
};

INSTANTIATE_TEST_SUITE_P(HttpAndHttps, UploadChannelTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Https" : "Http"; });

} // namespace

TEST_P(UploadChannelTest, SendsTheRangeAfterContinueAndStoresItsRow)
{
    Watchdog watchdog("a plain upload");
    TestService service(serviceOptions());
    const RestHeaderList headers = {{"x-fv-b", "2"}, {"x-fv-a", "1"}, {"Content-Type", "application/octet-stream"}};
    auto channel = makeChannel(service.url("/storage/object", secure()), kOffset, kRangeSize, headers);
    ASSERT_EQ(1u, rows().size());
    EXPECT_EQ(1u, rows()[0].State);
    EXPECT_EQ(headers, rows()[0].headers);
    EXPECT_EQ(kOffset, rows()[0].LocalOffset);
    EXPECT_EQ(kRangeSize, rows()[0].BytesToUpload);

    const std::size_t logMark = libraryLog().size();
    ASSERT_EQ(0, channel->start());
    const Event end = m_run.endAfter();
    channel->stop();
    EXPECT_EQ(State::stateCompleted, end.state);
    const std::string url = service.url("/storage/object", secure());
    const std::string log = libraryLog().substr(logMark);
    for (const std::string& line :
         {"Starting upload of a channel. Channel url: " + url + ". Offset: 65536",
          std::string("Received expected HTTP response!"), std::string("Transfer completed! Receiving response!"),
          "Successfully uploaded path: " + url + ". Http status: 200",
          "Canceling upload of a channel. Channel url: " + url + ". Offset: 65536"})
        EXPECT_NE(std::string::npos, log.find(line)) << line;
    EXPECT_EQ(std::optional<std::string>(range()), service.model().objects().contents("object"));
    EXPECT_EQ(static_cast<std::int64_t>(kRangeSize), m_progress.total());
    EXPECT_EQ(3u, rows()[0].State);
    EXPECT_EQ(1, m_file.calls());

    const auto puts = service.log().forPath("/storage/object");
    ASSERT_EQ(1u, puts.size());
    EXPECT_EQ("PUT", puts[0].method);
    EXPECT_EQ("100-continue", puts[0].headers.get("Expect"));
    EXPECT_EQ(std::to_string(kRangeSize), puts[0].headers.get("Content-Length"));
    EXPECT_TRUE(inOrder(puts[0], {"x-fv-b", "x-fv-a", "content-type", "content-length", "expect"}))
        << ::testing::PrintToString(headerNames(puts[0]));
}

// The details the owner gives before each attempt replace the channel's, and a digest it knows
// is the one the ETag is held to: the bytes are not hashed again.
TEST_P(UploadChannelTest, TakesUrlHeadersAndDigestFromItsOwner)
{
    Watchdog watchdog("owner details");
    TestService service(serviceOptions());
    auto channel = makeChannel(service.url("/storage/stale", secure()));
    m_file.give(service.url("/storage/fresh", secure()), {{"x-fv-part-number", "4"}}, fv_test::md5Digest(range()));
    channel->start();
    EXPECT_EQ(State::stateCompleted, m_run.endAfter().state);
    channel->stop();
    EXPECT_TRUE(service.log().forPath("/storage/stale").empty());
    const auto puts = service.log().forPath("/storage/fresh");
    ASSERT_EQ(1u, puts.size());
    EXPECT_EQ("4", puts[0].headers.get("x-fv-part-number"));

    // A digest that the bytes do not have fails every attempt, and the mismatch line shows
    // that no digest was calculated.
    m_file.give("", {}, fv_test::md5Digest("other bytes"));
    channel->setMaxRetries(2);
    const std::size_t seen = m_run.count();
    const std::size_t logMark = libraryLog().size();
    channel->start();
    const Event failed = m_run.endAfter(seen);
    channel->stop();
    EXPECT_EQ(State::stateErrored, failed.state);
    EXPECT_EQ(ITransferChannel::outcomeData, failed.outcome);
    EXPECT_EQ(3u, service.log().forPath("/storage/fresh").size());
    EXPECT_NE(std::string::npos,
              libraryLog().substr(logMark).find("Upload failed due to md5 checksum mismatch. Calculated md5: \n"));
    EXPECT_EQ(2u, rows()[0].State);
}

TEST_P(UploadChannelTest, AnswersOfTheStorageDecideTheRun)
{
    const std::string rightEtag = "\"" + fv_test::md5Hex(range()) + "\"";
    struct Case {
        const char* name;
        std::uint64_t size;
        std::function<void(TestService&)> faults;
        std::int32_t state;
        std::int32_t outcome;
        // The body bytes the service read of each request, in order.
        std::vector<std::uint64_t> bodies;
        // Whether each request asked for "100 Continue".
        std::vector<bool> expects;
    };
    const auto setEtag = [](std::string value) {
        return Fault::mutateResponse([value](fv_test::ServiceResponse& response) {
            if (value.empty())
                response.headers.remove("ETag");
            else
                response.headers.set("ETag", value);
        });
    };
    const Case cases[] = {
        {"continue then the right ETag",
         kRangeSize,
         [](TestService&) {},
         State::stateCompleted,
         0,
         {kRangeSize},
         {true}},
        {"an empty range gets its answer at once", 0, [](TestService&) {}, State::stateCompleted, 0, {0}, {true}},
        {"a refusal instead of continue sends no body",
         kRangeSize,
         [](TestService& s) {
             s.faults().add({"PUT", "/storage/*", 1, 0, Fault::statusCode(403)});
         },
         State::stateErrored,
         ITransferChannel::outcomeConnect,
         {0, 0},
         {true, true}},
        {"a final 500 sends the whole range again",
         kRangeSize,
         [](TestService& s) {
             s.faults().add({"PUT", "/storage/*", 1, 1, Fault::mutateResponse([](fv_test::ServiceResponse& r) {
                                 r.setBody(500, "after the body", "text/plain");
                             })});
         },
         State::stateCompleted,
         0,
         {kRangeSize, kRangeSize},
         {true, true}},
        {"a 3xx final answer stands or falls by its ETag",
         kRangeSize,
         [](TestService& s) {
             s.faults().add({"PUT", "/storage/*", 1, 1,
                             Fault::mutateResponse([](fv_test::ServiceResponse& r) { r.status = 303; })});
         },
         State::stateCompleted,
         0,
         {kRangeSize},
         {true}},
        {"417 drops the expectation from the next attempt",
         kRangeSize,
         [](TestService& s) {
             s.faults().add({"PUT", "/storage/*", 1, 1, Fault::statusCode(417)});
         },
         State::stateCompleted,
         0,
         {0, kRangeSize},
         {true, false}},
        {"unquoted ETag",
         kRangeSize,
         [&](TestService& s) {
             s.faults().add({"PUT", "/storage/*", 1, 0, setEtag(fv_test::md5Hex(range()))});
         },
         State::stateErrored,
         ITransferChannel::outcomeData,
         {kRangeSize, kRangeSize},
         {true, true}},
        {"upper-case ETag",
         kRangeSize,
         [&](TestService& s) {
             s.faults().add({"PUT", "/storage/*", 1, 0, setEtag(Poco::toUpper(rightEtag))});
         },
         State::stateErrored,
         ITransferChannel::outcomeData,
         {kRangeSize, kRangeSize},
         {true, true}},
        {"no ETag",
         kRangeSize,
         [&](TestService& s) {
             s.faults().add({"PUT", "/storage/*", 1, 0, setEtag("")});
         },
         State::stateErrored,
         ITransferChannel::outcomeData,
         {kRangeSize, kRangeSize},
         {true, true}},
        {"wrong ETag",
         kRangeSize,
         [](TestService& s) {
             s.faults().add({"PUT", "/storage/*", 1, 0, Fault::wrongEtag()});
         },
         State::stateErrored,
         ITransferChannel::outcomeData,
         {kRangeSize, kRangeSize},
         {true, true}},
        {"the connection closes mid-body",
         kRangeSize,
         [](TestService& s) {
             s.faults().add({"PUT", "/storage/*", 1, 1, Fault::closeMidRequest(4096)});
         },
         State::stateCompleted,
         0,
         {4096, kRangeSize},
         {true, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Watchdog watchdog(c.name);
        TestService service(serviceOptions());
        c.faults(service);
        m_progress.reset();
        auto channel = makeChannel(service.url("/storage/object", secure()), kOffset, c.size);
        channel->setMaxRetries(2);
        const std::size_t seen = m_run.count();
        channel->start();
        const Event end = m_run.endAfter(seen);
        channel->stop();
        EXPECT_EQ(c.state, end.state);
        EXPECT_EQ(c.outcome, end.outcome);
        const auto puts = service.log().forPath("/storage/object");
        std::vector<std::uint64_t> bodies;
        std::vector<bool> expects;
        for (const LoggedRequest& request : puts) {
            bodies.push_back(request.bodyBytes);
            expects.push_back(request.headers.has("Expect"));
        }
        EXPECT_EQ(c.bodies, bodies);
        EXPECT_EQ(c.expects, expects);
        const bool done = c.state == State::stateCompleted;
        EXPECT_EQ(done ? static_cast<std::int64_t>(c.size) : 0, m_progress.total());
        if (done) {
            EXPECT_EQ(std::optional<std::string>(range(kOffset, c.size)), service.model().objects().contents("object"));
        }
        EXPECT_EQ(static_cast<std::uint32_t>(c.state), rows().at(0).State);
    }
}

// A server that never answers "100 Continue" still gets the body, after the short wait rather
// than the receive time-out.
TEST_P(UploadChannelTest, ServerIgnoringExpectGetsTheBodyAfterTheWait)
{
    Watchdog watchdog("Expect ignored");
    TestService service(serviceOptions(true));
    const std::size_t logMark = libraryLog().size();
    auto channel = makeChannel(service.url("/storage/object", secure()));
    channel->setTimeouts({0, 0, 60000});
    channel->start();
    EXPECT_EQ(State::stateCompleted, m_run.endAfter().state);
    channel->stop();
    EXPECT_EQ(std::optional<std::string>(range()), service.model().objects().contents("object"));
    const auto puts = service.log().forPath("/storage/object");
    ASSERT_EQ(1u, puts.size());
    EXPECT_EQ("100-continue", puts[0].headers.get("Expect"));
    const std::string log = libraryLog().substr(logMark);
    EXPECT_NE(std::string::npos, log.find("No interim response within"));
    EXPECT_EQ(std::string::npos, log.find("Received expected HTTP response!"));
}

// The interim and the final head may come in one read, or the interim one only after the
// body: either way the final answer is the one checked.
TEST_P(UploadChannelTest, FinalAnswerIsFoundWhereverTheInterimOneCame)
{
    const std::string finalHead =
        "HTTP/1.1 200 OK\r\nETag: \"" + fv_test::md5Hex(range()) + "\"\r\nContent-Length: 0\r\n\r\n";
    const std::string interim = "HTTP/1.1 100 Continue\r\n\r\n";
    struct Case {
        const char* name;
        fv_test::Script script;
    };
    const Case cases[] = {
        {"both heads in one write",
         fv_test::Script().readHead().write(interim + finalHead).readBody().gate("body read")},
        {"continue only after the body",
         fv_test::Script().readHead().readBody().write(interim + finalHead).gate("body read")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Watchdog watchdog(c.name);
        fv_test::ScriptedServer::Options options;
        options.tls = secure();
        fv_test::ScriptedServer server({c.script}, options);
        auto channel = makeChannel(server.url("/storage/object"));
        channel->setMaxRetries(1);
        const std::size_t seen = m_run.count();
        channel->start();
        const Event end = m_run.endAfter(seen);
        channel->stop();
        EXPECT_EQ(State::stateCompleted, end.state);
        EXPECT_EQ(1, server.connectionCount());
        // The answer may come before the server has read the whole body: wait until it has.
        ASSERT_TRUE(server.waitAtGate("body read", 20000));
        server.openGate("body read");
        const std::string received = server.received(0);
        ASSERT_GE(received.size(), kRangeSize);
        EXPECT_EQ(fv_test::md5Hex(range()), fv_test::md5Hex(received.substr(received.size() - kRangeSize)));
    }
}

// A storage that stops reading the body ends the attempt through the send time-out; the next
// attempt sends the whole range.
TEST_P(UploadChannelTest, StalledBodyTimesOutAndIsRetried)
{
    Watchdog watchdog("stalled body", std::chrono::seconds(110));
    constexpr std::uint64_t kBig = 16 * 1024 * 1024;
    const std::string content = fv_test::patternedBytes(kBig, 11);
    const std::string path = m_dir.file("big");
    fv_test::writeFile(path, content);
    TestService service(serviceOptions());
    service.faults().add({"PUT", "/storage/*", 1, 1, Fault::stallRequest(65536)});
    ProgressTotal progress(static_cast<std::int64_t>(kBig));
    auto channel = makeChannel(service.url("/storage/big", secure()), 0, kBig, {}, false, path);
    channel->progressEvent -= Poco::delegate(&m_progress, &ProgressTotal::onProgress);
    channel->progressEvent += Poco::delegate(&progress, &ProgressTotal::onProgress);
    // The idle time-out also runs on the healthy attempt, where a loaded sanitizer build can pause
    // the service for a while: a few attempts leave room for one such pause.
    channel->setTimeouts({0, 3000, 0});
    channel->setMaxRetries(4);
    const std::size_t logMark = libraryLog().size();
    channel->start();
    EXPECT_EQ(State::stateCompleted, m_run.endAfter().state);
    channel->stop();
    EXPECT_TRUE(rows().empty()); // built without its row
    EXPECT_EQ(static_cast<std::int64_t>(kBig), progress.total());
    const auto puts = service.log().forPath("/storage/big");
    ASSERT_GE(puts.size(), 2u);
    EXPECT_LT(puts.front().bodyBytes, kBig);
    EXPECT_EQ(kBig, puts.back().bodyBytes);
    const auto stored = service.model().objects().find("big");
    ASSERT_TRUE(stored);
    EXPECT_EQ(fv_test::md5Hex(content), stored->md5());
    EXPECT_NE(std::string::npos, libraryLog().substr(logMark).find("nothing could be sent"));
}

// A channel held by a server that stopped reading its body, or that read it and never answers,
// with both time-outs far away, still ends on stop and stopAsync and parks on pause.
TEST_P(UploadChannelTest, OperationsReachAChannelHeldBySendOrAnswer)
{
    constexpr std::uint64_t kBig = 32 * 1024 * 1024; // more than the socket buffers hold
    const std::string path = m_dir.file("big");
    fv_test::writeFile(path, fv_test::patternedBytes(kBig, 5));
    enum class Op { stop, stopAsync, pauseThenStop };
    struct Case {
        const char* name;
        std::size_t readBytes; // of the body, before the server stops reading
        Op op;
        State end;
    };
    const Case cases[] = {
        {"sending, stop", 65536, Op::stop, State::stateStopRequested},
        {"sending, stopAsync", 65536, Op::stopAsync, State::stateCancelRequested},
        {"sending, pause", 65536, Op::pauseThenStop, State::stateStopRequested},
        {"awaiting the answer, stop", kBig, Op::stop, State::stateStopRequested},
        {"awaiting the answer, pause", kBig, Op::pauseThenStop, State::stateStopRequested},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Watchdog watchdog(c.name, std::chrono::seconds(60));
        TestService service(serviceOptions());
        service.faults().add({"PUT", "/storage/*", 1, 1, Fault::stallRequest(c.readBytes)});
        RunRecorder run;
        ProgressTotal progress(static_cast<std::int64_t>(kBig));
        auto channel = makeChannel(service.url("/storage/big", secure()), 0, kBig, {}, false, path);
        channel->stateEvent -= Poco::delegate(&m_run, &RunRecorder::onState);
        channel->stateEvent += Poco::delegate(&run, &RunRecorder::onState);
        channel->progressEvent -= Poco::delegate(&m_progress, &ProgressTotal::onProgress);
        channel->progressEvent += Poco::delegate(&progress, &ProgressTotal::onProgress);
        channel->setTimeouts({0, 600000, 600000});
        channel->start();
        const std::int64_t held = c.readBytes == kBig ? static_cast<std::int64_t>(kBig) : 1;
        ASSERT_TRUE(fv_test::waitUntil([&] { return progress.total() >= held; }, 30000));
        EventRecorder<int> completions;
        switch (c.op) {
        case Op::stop: break;
        case Op::stopAsync: channel->stopAsync([&completions](int value) { completions.record(value); }); break;
        case Op::pauseThenStop:
            channel->pause();
            EXPECT_TRUE(run.paused());
            break;
        }
        channel->stop();
        EXPECT_FALSE(channel->isRunning());
        EXPECT_EQ(c.end, run.endAfter().state);
        if (c.op == Op::stopAsync) {
            EXPECT_TRUE(completions.waitForCount(1));
            EXPECT_EQ(std::vector<int>{1}, completions.values());
        }
        EXPECT_EQ(0, progress.total()); // a range that cannot continue takes its progress back
    }
}

TEST_P(UploadChannelTest, ChannelWithoutPathDoesNotStart)
{
    TestService service(serviceOptions());
    ChannelDescription description{"", 0, 10, "ul", ""};
    CUploadChannel channel(service.url("/storage/object", secure()), description, {}, &m_file, &m_file, 1, m_buffers,
                           m_table, false, m_seams);
    EXPECT_EQ(1, channel.start());
    EXPECT_FALSE(channel.isRunning());
    EXPECT_EQ(0u, m_run.count());
    EXPECT_THROW(std::make_unique<CUploadChannel>(service.url("/storage/object"), description, RestHeaderList{},
                                                  &m_file, &m_file, 1, m_buffers, nullptr, false, m_seams),
                 Poco::NullPointerException);
}

// Three channels upload the parts of a multipart upload; one part's answer fails after its body,
// another's ETag is wrong on every attempt until the storage mends. The parts the service joins
// are the file.
TEST_P(UploadChannelTest, MultipartUploadEndsAsTheFile)
{
    Watchdog watchdog("multipart upload", std::chrono::seconds(110));
    constexpr std::uint64_t kPart = 8 * 1024 * 1024;
    constexpr std::uint64_t kTotal = 3 * kPart;
    const std::string content = fv_test::patternedBytes(kTotal, 13);
    const std::string path = m_dir.file("multipart");
    fv_test::writeFile(path, content);

    fv_test::TestServiceOptions options;
    options.https = true;
    options.bodyCaptureLimit = 1024;
    TestService service(options);
    fv_test::RestRoutes rest(service);
    CFvTransfersGlobalConfig::getInstance()->setRestEndPointUrl(secure() ? service.secureBaseUrl() : service.baseUrl());
    rest.addBucket("B1", "T1");
    rest.addFile("B1", "F1", kTotal);

    MultiPartInitParams init;
    init.fileId = "F1";
    init.bucketId = "B1";
    init.bucketToken = "T1";
    init.fileSize = kTotal;
    init.parts = {{1, kPart, ""}, {2, kPart, ""}, {3, kPart, ""}};
    MultiPartInitResult upload;
    {
        CRestApiMultiPartUploadInitialize call;
        ASSERT_EQ(dt_success, call.execute(init));
        ASSERT_EQ(dt_success, call.getResult(upload));
    }
    ASSERT_EQ(3u, upload.parts.size());

    service.faults().add(FaultRule{
        "PUT", "/storage/*", 1, 1, Fault::mutateResponse([](fv_test::ServiceResponse& r) {
            r.setBody(500, "failed after the body", "text/plain");
        })}.whenHeader("x-fv-part-number", "2"));
    service.faults().add(FaultRule{"PUT", "/storage/*", 1, 0, Fault::wrongEtag()}.whenHeader("x-fv-part-number", "3"));

    ProgressTotal progress(static_cast<std::int64_t>(kTotal));
    RunRecorder runs[3];
    std::vector<std::unique_ptr<CUploadChannel>> channels;
    for (std::size_t i = 0; i < 3; ++i) {
        const PartUploadDetails& part = upload.parts[i];
        ChannelDescription description{path, i * kPart, kPart, "ul", ""};
        channels.push_back(std::make_unique<CUploadChannel>(part.url, description, part.headers, &m_file, &m_file,
                                                            part.number, m_buffers, m_table, true, m_seams));
        channels.back()->stateEvent += Poco::delegate(&runs[i], &RunRecorder::onState);
        channels.back()->progressEvent += Poco::delegate(&progress, &ProgressTotal::onProgress);
        channels.back()->setMaxRetries(3);
    }
    for (auto& channel : channels)
        channel->start();
    EXPECT_EQ(State::stateCompleted, runs[0].endAfter().state);
    EXPECT_EQ(State::stateCompleted, runs[1].endAfter().state);
    const Event failed = runs[2].endAfter();
    EXPECT_EQ(State::stateErrored, failed.state);
    EXPECT_EQ(ITransferChannel::outcomeData, failed.outcome);
    channels[2]->stop();
    EXPECT_EQ(static_cast<std::int64_t>(2 * kPart), progress.total());
    EXPECT_GE(progress.takeBacks(), 1);

    const auto bodiesOfPart = [&](const std::string& number) {
        std::vector<std::uint64_t> bodies;
        for (const LoggedRequest& request : service.log().all())
            if (request.method == "PUT" && request.headers.get("x-fv-part-number") == number)
                bodies.push_back(request.bodyBytes);
        return bodies;
    };
    EXPECT_EQ(std::vector<std::uint64_t>({kPart, kPart}), bodiesOfPart("2"));
    EXPECT_EQ(std::vector<std::uint64_t>({kPart, kPart, kPart}), bodiesOfPart("3"));

    service.faults().clear();
    const std::size_t seen = runs[2].count();
    channels[2]->start();
    EXPECT_EQ(State::stateCompleted, runs[2].endAfter(seen).state);
    for (auto& channel : channels)
        channel->stop();
    EXPECT_EQ(static_cast<std::int64_t>(kTotal), progress.total());
    const auto stored = rows();
    ASSERT_EQ(3u, stored.size());
    for (const auto& row : stored)
        EXPECT_EQ(3u, row.State);

    MultiPartCompleteParams complete;
    complete.fileId = "F1";
    complete.bucketId = "B1";
    complete.bucketToken = "T1";
    complete.uploadId = upload.uploadId;
    complete.numberOfParts = 3;
    CRestApiMultiPartUploadComplete call;
    ASSERT_EQ(dt_success, call.execute(complete));
    ASSERT_EQ(dt_success, call.getResult());
    const auto object = service.model().objects().find(fv_test::RestRoutes::fileKey("B1", "F1"));
    ASSERT_TRUE(object);
    EXPECT_EQ(fv_test::md5Hex(content), object->md5());
}
