#include "core/base/DtError.h"
#include "core/http/HttpResponseFetcher.h"
#include "core/system/SystemResourcesStatus.h"
#include "framework/TransferBufferManagerFactory.h"
#include "framework/TransferChannelBase.h"
#include "framework/TransferFileBase.h"
#include "support/fixtures/EventRecorder.h"
#include "support/fixtures/LogCapture.h"
#include "support/fixtures/TestBytes.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/TransportTest.h"
#include "support/fixtures/Watchdog.h"
#include "support/service/TestService.h"

#include <Poco/Delegate.h>
#include <Poco/DigestEngine.h>
#include <Poco/MD5Engine.h>
#include <Poco/Net/HTTPResponse.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

using namespace fv_transfers;
using fv_test::EventRecorder;
using fv_test::TempDir;
using fv_test::TestService;
using fv_test::Watchdog;

namespace {

using State = ITransferChannel::State;
using Event = ITransferChannel::StateEventData;

using fv_test::md5Hex;
using fv_test::patternedBytes;

class TestFile : public CTransferFileBase {
public:
    void getFileUid(std::string& uid) override { uid = "file-uid"; }
    void getBucketId(std::string& bucketId) override { bucketId = "bucket"; }
    int getGroupId() override { return 3; }
    void add(const std::shared_ptr<ITransferChannel>& channel)
    {
        std::lock_guard<std::mutex> guard(fileLock);
        channels.addChannel(channel);
    }
    void setState(const ITransferChannel* channel, State state)
    {
        std::lock_guard<std::mutex> guard(fileLock);
        channels.setChannelState(channel, state);
    }
};

// What a test channel does at its hooks; every field has the behaviour of a plain ranged
// download into the local file.
struct ChannelScript {
    bool partial = true;
    std::function<int()> prepare = [] { return 0; };
    // Given the failure; the default fails the attempt.
    std::function<int(int)> mapConnectError = [](int) { return CTransferChannelBase::connectFailed; };
    // Called on the channel's thread with the bytes of the range written so far, before each write.
    std::function<void(std::uint64_t)> beforeWrite;
    // Replaces the write: (bytes written so far, size) → (result, done).
    std::function<std::pair<int, std::uint64_t>(std::uint64_t, std::uint64_t)> write;
};

// A ranged GET into the local file through the base's hooks: what a download channel will do,
// with the choices a test wants to vary taken from its script.
class TestChannel : public CTransferChannelBase {
public:
    TestChannel(const std::string& url, const ChannelDescription& description, ITransferFile* file,
                std::shared_ptr<ITransferBufferManager> buffers, ChannelScript script, ChannelSeams seams)
        : CTransferChannelBase(url, description, file, 2, std::move(buffers), std::move(seams)),
          m_script(std::move(script))
    {
    }
    ~TestChannel() override { shutdown(); }

    void expectMd5(const std::string& md5) { m_expectedMd5 = md5; }
    std::vector<std::string> digests()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_digests;
    }
    std::vector<int> hookStates()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_hookStates;
    }
    int prepareCalls() const { return m_prepareCalls.load(); }
    using CTransferChannelBase::setBytesDone;

protected:
    int prepare() override
    {
        ++m_prepareCalls;
        return m_script.prepare();
    }
    int mapConnectError(int error) override { return m_script.mapConnectError(error); }
    void prepareRequest(Poco::Net::HTTPRequest& request, std::uint64_t transferred) override
    {
        const std::uint64_t first = getOffset() + transferred;
        request.set("Range", "bytes=" + std::to_string(first) + "-" + std::to_string(getOffset() + rangeSize() - 1));
    }
    int afterRequestSent() override
    {
        m_fetcher = std::make_unique<CHttpResponseFetcher>(&connection);
        Poco::Net::HTTPResponse* response = nullptr;
        const dt_error fetched = m_fetcher->fetch(response, m_body);
        if (fetched != dt_success)
            return fetched;
        return response->getStatus() == Poco::Net::HTTPResponse::HTTP_PARTIAL_CONTENT ? dt_success
                                                                                      : dt_unexpected_http_response;
    }
    int finishTransfer() override
    {
        const std::string digest = takeRangeMd5Hex();
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_digests.push_back(digest);
        }
        return m_expectedMd5.empty() || digest == m_expectedMd5 ? dt_success : dt_general_error;
    }
    int readData(ILocalFile&, void* buffer, std::uint64_t size, std::uint64_t& got) override
    {
        std::size_t received = 0;
        const dt_error result = m_body->read(static_cast<char*>(buffer), static_cast<std::size_t>(size), received);
        got = received;
        if (result == dt_success && received == 0)
            return dt_connection_closed; // the body ended before the range did
        return result;
    }
    int writeData(ILocalFile& file, const void* buffer, std::uint64_t size, std::uint64_t& done) override
    {
        if (m_script.beforeWrite)
            m_script.beforeWrite(bytesDone());
        if (m_script.write) {
            const auto [result, count] = m_script.write(bytesDone(), size);
            done = count;
            if (count > 0 && !file.writeAt(buffer, count, filePosition()))
                return dt_local_file_error;
            return result;
        }
        done = 0;
        if (!file.writeAt(buffer, size, filePosition()))
            return dt_local_file_error;
        done = size;
        return dt_success;
    }
    bool supportsPartialRetry() override { return m_script.partial; }
    unsigned openMode() override { return openReadWrite; }
    void onStateChanged(int state) override
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_hookStates.push_back(state);
    }

private:
    ChannelScript m_script;
    std::unique_ptr<CHttpResponseFetcher> m_fetcher;
    IHttpResponseBodyFetcher* m_body = nullptr;
    std::string m_expectedMd5;
    std::mutex m_mutex;
    std::vector<std::string> m_digests;
    std::vector<int> m_hookStates;
    std::atomic<int> m_prepareCalls{0};
};

class NoMemory : public ISystemResourcesStatus {
public:
    bool getAvailableMemory(std::uint64_t& bytes) override
    {
        bytes = 0;
        return true;
    }
};

// One object on the test service, a local file of its size, a test file and the recorders of a
// channel's events.
class ChannelTest : public ::testing::Test {
protected:
    static constexpr std::size_t kObjectSize = 256 * 1024;
    static constexpr std::uint64_t kOffset = 65536;
    static constexpr std::uint64_t kRangeSize = 131072;

    ChannelTest() : m_service(unsignedStorage())
    {
        fv_test::prepareTransportTest();
        m_object = patternedBytes(kObjectSize);
        m_service.model().objects().put("object", m_object);
        m_path = m_dir.file("local");
        fv_test::writeFile(m_path, std::string(kObjectSize, '\0'));
        m_buffers = createTransferBufferManager(0);
        m_buffers->init(8 * 1024 * 1024);
        m_seams.firstBackOff = std::chrono::milliseconds(1);
        m_seams.maxBackOff = std::chrono::milliseconds(2);
    }

    static fv_test::TestServiceOptions unsignedStorage()
    {
        fv_test::TestServiceOptions options;
        options.requireSignedStorage = false;
        return options;
    }

    std::string objectUrl() const { return m_service.url("/storage/object"); }
    std::string range() const { return m_object.substr(kOffset, kRangeSize); }
    std::string localRange() const { return fv_test::readFile(m_path).substr(kOffset, kRangeSize); }

    std::unique_ptr<TestChannel> makeChannel(ChannelScript script, const std::string& url = "")
    {
        ChannelDescription description{m_path, kOffset, kRangeSize, "dl", ""};
        auto channel = std::make_unique<TestChannel>(url.empty() ? objectUrl() : url, description, &m_file, m_buffers,
                                                     std::move(script), m_seams);
        channel->expectMd5(md5Hex(range()));
        channel->stateEvent += Poco::delegate(this, &ChannelTest::onState);
        channel->progressEvent += Poco::delegate(this, &ChannelTest::onProgress);
        return channel;
    }

    void onState(const void*, Event& event) { m_events.record(event); }
    void onProgress(const void*, Poco::Int64& bytes)
    {
        m_progress += bytes;
        if (bytes < 0)
            ++m_takeBacks;
        EXPECT_GE(m_progress.load(), 0);
        EXPECT_LE(m_progress.load(), static_cast<Poco::Int64>(kRangeSize));
    }

    // Waits for the n-th event and returns it ({-1, -1} when none came).
    Event eventAt(std::size_t index)
    {
        if (!m_events.waitForCount(index + 1, 20000))
            return {-1, -1};
        return m_events.values()[index];
    }
    std::size_t requests() { return m_service.log().forPath("/storage/object").size(); }
    std::vector<std::string> ranges()
    {
        std::vector<std::string> result;
        for (const auto& request : m_service.log().forPath("/storage/object"))
            result.push_back(request.headers.get("Range"));
        return result;
    }

    TempDir m_dir;
    TestService m_service;
    std::string m_object;
    std::string m_path;
    TestFile m_file;
    std::shared_ptr<ITransferBufferManager> m_buffers;
    ChannelSeams m_seams;
    EventRecorder<Event> m_events;
    std::atomic<Poco::Int64> m_progress{0};
    std::atomic<int> m_takeBacks{0};
};

std::string rangeHeader(std::uint64_t first, std::uint64_t last)
{
    return "bytes=" + std::to_string(first) + "-" + std::to_string(last);
}

// The first byte of "bytes=a-b".
std::uint64_t firstByte(const std::string& header)
{
    return std::stoull(header.substr(6, header.find('-') - 6));
}

} // namespace

TEST_F(ChannelTest, CompletesARangeIntoTheFileWithItsDigest)
{
    Watchdog watchdog("a plain range");
    auto channel = makeChannel({});
    channel->start();
    EXPECT_EQ(State::stateRunning, eventAt(0).state);
    EXPECT_EQ(State::stateCompleted, eventAt(1).state);
    channel->stop();
    EXPECT_FALSE(channel->isRunning());
    EXPECT_EQ(md5Hex(range()), md5Hex(localRange()));
    EXPECT_EQ(static_cast<Poco::Int64>(kRangeSize), m_progress.load());
    EXPECT_EQ(std::vector<std::string>{rangeHeader(kOffset, kOffset + kRangeSize - 1)}, ranges());
    EXPECT_EQ(std::vector<std::string>{md5Hex(range())}, channel->digests());
    EXPECT_EQ((std::vector<int>{1, 3}), channel->hookStates());
}

// Every way a run can fail ends, after a bounded number of requests, in one errored event whose
// outcome names the cause; a channel that cannot continue a range gives its progress back.
TEST_F(ChannelTest, FailedRunsEndWithTheirOutcomeAfterBoundedAttempts)
{
    struct Case {
        const char* name;
        int maxRetries;
        std::function<void(TestService&, ChannelScript&, std::string& url, std::string& path)> setup;
        std::int32_t outcome;
        std::size_t requests;
    };
    const Case cases[] = {
        {"data always fails", 3,
         [](TestService& service, ChannelScript& script, std::string&, std::string&) {
             script.partial = false;
             service.faults().add({"GET", "/storage/*", 1, 0, fv_test::Fault::closeMidBody()});
         },
         ITransferChannel::outcomeData, 3},
        {"no retries still makes one attempt", 0,
         [](TestService& service, ChannelScript& script, std::string&, std::string&) {
             script.partial = false;
             service.faults().add({"GET", "/storage/*", 1, 0, fv_test::Fault::closeMidBody()});
         },
         ITransferChannel::outcomeData, 1},
        {"connect always fails", 3,
         [](TestService&, ChannelScript&, std::string& url, std::string&) {
             url = "http://127.0.0.1:1/storage/object";
         },
         ITransferChannel::outcomeConnect, 0},
        {"answer always refused", 2,
         [](TestService& service, ChannelScript&, std::string&, std::string&) {
             service.faults().add({"GET", "/storage/*", 1, 0, fv_test::Fault::statusCode(500)});
         },
         ITransferChannel::outcomeConnect, 2},
        {"prepare gives 13", 3,
         [](TestService&, ChannelScript& script, std::string&, std::string&) {
             script.prepare = [] { return int(dt_unexpected_http_response); };
         },
         ITransferChannel::outcomeConnect, 0},
        {"prepare gives 7", 3,
         [](TestService&, ChannelScript& script, std::string&, std::string&) {
             script.prepare = [] { return int(dt_paused); };
         },
         ITransferChannel::outcomePrepare, 0},
        {"unopenable file", 3,
         [](TestService&, ChannelScript&, std::string&, std::string& path) { path += ".missing"; },
         ITransferChannel::outcomeLocalFile, 0},
        {"local file fails every attempt", 2,
         [](TestService&, ChannelScript& script, std::string&, std::string&) {
             script.write = [](std::uint64_t, std::uint64_t) { return std::make_pair(int(dt_local_file_error), 0ull); };
         },
         ITransferChannel::outcomeLocalFile, 2},
        {"redirects for ever", 2,
         [](TestService& service, ChannelScript& script, std::string&, std::string&) {
             service.faults().add({"GET", "/storage/*", 1, 0, fv_test::Fault::statusCode(302)});
             script.mapConnectError = [](int) { return CTransferChannelBase::connectRedirected; };
         },
         ITransferChannel::outcomeConnect, 2 * (1 + CTransferChannelBase::kMaxRedirectsPerAttempt)},
        {"refused after every refresh", 2,
         [](TestService& service, ChannelScript& script, std::string&, std::string&) {
             service.faults().add({"GET", "/storage/*", 1, 0, fv_test::Fault::statusCode(403)});
             script.mapConnectError = [](int) { return CTransferChannelBase::connectRefreshed; };
         },
         ITransferChannel::outcomeConnect, 2 * (1 + CTransferChannelBase::kMaxRefreshesPerAttempt)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Watchdog watchdog(c.name);
        TempDir dir;
        m_service.faults().clear();
        m_service.log().clear();
        ChannelScript script;
        std::string url = objectUrl();
        std::string path = m_path;
        c.setup(m_service, script, url, path);
        const std::string kept = m_path;
        m_path = path;
        const std::size_t base = m_events.values().size();
        m_progress = 0;
        {
            auto channel = makeChannel(script, url);
            m_path = kept;
            channel->setMaxRetries(c.maxRetries);
            channel->start();
            const Event end = eventAt(base + 1);
            EXPECT_EQ(State::stateErrored, end.state);
            EXPECT_EQ(c.outcome, end.outcome);
            channel->stop();
            EXPECT_EQ(base + 2, m_events.values().size());
            EXPECT_EQ(0, m_progress.load());
            EXPECT_EQ(c.requests, requests());
            const auto states = channel->hookStates();
            ASSERT_FALSE(states.empty());
            EXPECT_EQ(2, states.back());
        }
    }
}

// The local file refuses part of a write: only the bytes that reached it count, so the next
// attempt continues right after them and the file and its digest come out whole.
TEST_F(ChannelTest, OnlyWrittenBytesCountHashAndReport)
{
    Watchdog watchdog("a short write");
    ChannelScript script;
    std::atomic<bool> failed{false};
    script.write = [&](std::uint64_t written, std::uint64_t size) {
        if (written < 40000 && written + size > 40000 && !failed.exchange(true))
            return std::make_pair(int(dt_local_file_error), 40000 - written);
        return std::make_pair(int(dt_success), size);
    };
    auto channel = makeChannel(script);
    channel->setMaxRetries(2);
    channel->start();
    EXPECT_EQ(State::stateCompleted, eventAt(1).state);
    channel->stop();
    EXPECT_TRUE(failed.load());
    EXPECT_EQ(md5Hex(range()), md5Hex(localRange()));
    EXPECT_EQ(static_cast<Poco::Int64>(kRangeSize), m_progress.load());
    const auto sent = ranges();
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ(rangeHeader(kOffset + 40000, kOffset + kRangeSize - 1), sent[1]);
    EXPECT_EQ(std::vector<std::string>{md5Hex(range())}, channel->digests());
}

// A range interrupted at byte 50000 by pause, or by stopAsync and a new start: a channel that
// continues asks for the rest and its digest still covers the whole range; one that cannot
// takes its progress back and asks for the whole range again.
TEST_F(ChannelTest, InterruptedRangeContinuesOrRestarts)
{
    struct Case {
        const char* name;
        bool partial;
        bool cancel; // stopAsync and start, else pause and resume
    };
    const Case cases[] = {
        {"partial, paused", true, false},
        {"partial, cancelled", true, true},
        {"whole, paused", false, false},
        {"whole, cancelled", false, true},
    };
    constexpr std::uint64_t kCut = 50000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Watchdog watchdog(c.name);
        m_service.log().clear();
        const std::size_t base = m_events.values().size();
        m_progress = 0;
        m_takeBacks = 0;
        fv_test::writeFile(m_path, std::string(kObjectSize, '\0'));
        ChannelScript script;
        script.partial = c.partial;
        std::atomic<bool> interrupted{false};
        TestChannel* self = nullptr;
        EventRecorder<int> completions;
        script.beforeWrite = [&](std::uint64_t written) {
            if (written >= kCut && !interrupted.exchange(true)) {
                if (c.cancel)
                    self->stopAsync([&](int value) { completions.record(value); });
                else
                    self->pause();
            }
        };
        auto channel = makeChannel(script);
        self = channel.get();
        channel->start();
        const Event interruption = eventAt(base + 1);
        if (c.cancel) {
            EXPECT_EQ(State::stateCancelRequested, interruption.state);
            ASSERT_TRUE(completions.waitForCount(1));
            EXPECT_EQ(1, completions.values()[0]);
            channel->start();
        } else {
            EXPECT_EQ(State::statePaused, interruption.state);
            EXPECT_TRUE(channel->isPaused());
            channel->resume();
        }
        // {1} {6} {1} {3} after a new start, {1} {4} {1} {3} after resume.
        EXPECT_EQ(State::stateRunning, eventAt(base + 2).state);
        EXPECT_EQ(State::stateCompleted, eventAt(base + 3).state);
        channel->stop();
        EXPECT_EQ(md5Hex(range()), md5Hex(localRange()));
        EXPECT_EQ(static_cast<Poco::Int64>(kRangeSize), m_progress.load());
        EXPECT_EQ(std::vector<std::string>{md5Hex(range())}, channel->digests());
        const auto sent = ranges();
        ASSERT_EQ(2u, sent.size());
        if (c.partial) {
            EXPECT_EQ(0, m_takeBacks.load());
            const std::uint64_t first = firstByte(sent[1]);
            EXPECT_GT(first, kOffset + kCut);
            EXPECT_LT(first, kOffset + kRangeSize);
            EXPECT_EQ(rangeHeader(first, kOffset + kRangeSize - 1), sent[1]);
        } else {
            EXPECT_EQ(1, m_takeBacks.load());
            EXPECT_EQ(rangeHeader(kOffset, kOffset + kRangeSize - 1), sent[1]);
        }
    }
}

// A channel built from a checkpoint asks only for the rest, and its digest, rebuilt from the
// bytes already in the file, still covers the whole range.
TEST_F(ChannelTest, ChannelFromACheckpointRebuildsTheDigestFromTheFile)
{
    Watchdog watchdog("a checkpoint");
    constexpr std::uint64_t kDone = 70000;
    std::string local(kObjectSize, '\0');
    local.replace(kOffset, kDone, m_object.substr(kOffset, kDone));
    fv_test::writeFile(m_path, local);
    auto channel = makeChannel({});
    channel->setBytesDone(kDone);
    channel->start();
    EXPECT_EQ(State::stateCompleted, eventAt(1).state);
    channel->stop();
    EXPECT_EQ(std::vector<std::string>{rangeHeader(kOffset + kDone, kOffset + kRangeSize - 1)}, ranges());
    EXPECT_EQ(md5Hex(range()), md5Hex(localRange()));
    EXPECT_EQ(std::vector<std::string>{md5Hex(range())}, channel->digests());
    EXPECT_EQ(static_cast<Poco::Int64>(kRangeSize - kDone), m_progress.load());
}

// A pool that stays exhausted ends the attempt once the buffer time-out passes on the channel's
// clock, instead of waiting for memory for ever.
TEST_F(ChannelTest, ExhaustedPoolEndsTheAttemptAtTheBufferTimeOut)
{
    Watchdog watchdog("an exhausted pool");
    m_buffers = createTransferBufferManager(0, std::make_unique<NoMemory>());
    m_buffers->init(0);
    // Each reading of the clock is a second later, so the 60 s pass after 60 tries.
    auto ticks = std::make_shared<std::atomic<int>>(0);
    const auto base = std::chrono::steady_clock::now();
    m_seams.clock = [ticks, base] { return base + std::chrono::seconds(ticks->fetch_add(1)); };
    auto channel = makeChannel({});
    channel->setMaxRetries(2);
    channel->start();
    const Event end = eventAt(1);
    EXPECT_EQ(State::stateErrored, end.state);
    EXPECT_EQ(ITransferChannel::outcomeData, end.outcome);
    channel->stop();
    EXPECT_EQ(2u, requests());
}

// While the pool stays exhausted the shortage is logged at most once per 10 s of the channel's
// clock, not once per try.
TEST_F(ChannelTest, PoolShortageLogIsRateLimited)
{
    Watchdog watchdog("a logged shortage");
    fv_test::LogCapture log;
    m_buffers = createTransferBufferManager(0, std::make_unique<NoMemory>());
    m_buffers->init(0);
    // Each reading of the clock is 100 ms later: some 300 tries before the 60 s pass.
    auto ticks = std::make_shared<std::atomic<int>>(0);
    const auto base = std::chrono::steady_clock::now();
    m_seams.clock = [ticks, base] { return base + std::chrono::milliseconds(100 * ticks->fetch_add(1)); };
    auto channel = makeChannel({});
    channel->setMaxRetries(1);
    channel->start();
    EXPECT_EQ(State::stateErrored, eventAt(1).state);
    channel->stop();
    const int lines = log.count("Exception caught when retrieving buffer after");
    EXPECT_GE(lines, 1);
    EXPECT_LE(lines, 8);
}

namespace {

enum class Op { pause, waitPaused, resume, stop, stopAsync, destroy };

// A channel kept in its data loop by a trickling body, driven by the engine's operations.
class ChannelStateTest : public ChannelTest {
protected:
    std::unique_ptr<TestChannel> startTrickling(int maxRetries = 0)
    {
        m_service.faults().add({"GET", "/storage/*", 1, 0, fv_test::Fault::trickle(64, 20)});
        auto channel = makeChannel({});
        if (maxRetries > 0)
            channel->setMaxRetries(maxRetries);
        channel->start();
        EXPECT_TRUE(fv_test::waitUntil([this] { return m_progress.load() > 0; }, 20000));
        return channel;
    }

    // With a clock that never moves, the limit never lets a byte through: the channel stays in
    // its limit wait until something else ends it.
    std::unique_ptr<TestChannel> startHeldByTheLimit()
    {
        const auto frozen = std::chrono::steady_clock::now();
        m_seams.clock = [frozen] { return frozen; };
        auto channel = makeChannel({});
        channel->setSpeedLimit(1000);
        channel->start();
        EXPECT_TRUE(m_service.log().waitForRequests(1, std::chrono::seconds(20)));
        return channel;
    }

    std::vector<std::int32_t> endStates()
    {
        std::vector<std::int32_t> ends;
        for (const Event& event : m_events.values())
            if (event.state == 2 || event.state == 3 || event.state == 5 || event.state == 6)
                ends.push_back(event.state);
        return ends;
    }
};

} // namespace

// Every order of the engine's operations ends the run once, in the state the last request asked
// for, with the thread joined and each completion told whether the run ended as cancelled.
TEST_F(ChannelStateTest, OperationSequencesEndInTheRequestedState)
{
    struct Case {
        const char* name;
        std::vector<Op> ops;
        std::int32_t end;
        std::vector<int> completions;
    };
    const Case cases[] = {
        {"stop", {Op::stop}, 5, {}},
        {"stopAsync", {Op::stopAsync}, 6, {1}},
        {"pause, stop", {Op::pause, Op::waitPaused, Op::stop}, 5, {}},
        {"pause, stopAsync", {Op::pause, Op::waitPaused, Op::stopAsync}, 6, {1}},
        {"pause, resume, stop", {Op::pause, Op::waitPaused, Op::resume, Op::stop}, 5, {}},
        {"stopAsync, pause, resume", {Op::stopAsync, Op::pause, Op::resume}, 6, {1}},
        {"stopAsync, stop", {Op::stopAsync, Op::stop}, 6, {1}},
        {"stop, stopAsync", {Op::stop, Op::stopAsync}, 5, {0}},
        {"destroy", {Op::destroy}, 6, {}},
        {"pause, destroy", {Op::pause, Op::waitPaused, Op::destroy}, 6, {}},
        {"stopAsync, destroy", {Op::stopAsync, Op::destroy}, 6, {1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Watchdog watchdog(c.name);
        m_service.faults().clear();
        const std::size_t base = m_events.values().size();
        auto channel = startTrickling();
        EventRecorder<int> completions;
        for (Op op : c.ops) {
            switch (op) {
            case Op::pause: channel->pause(); break;
            case Op::waitPaused: EXPECT_EQ(State::statePaused, eventAt(base + 1).state); break;
            case Op::resume: channel->resume(); break;
            case Op::stop:
                channel->stop();
                EXPECT_FALSE(channel->isRunning());
                break;
            case Op::stopAsync: channel->stopAsync([&completions](int value) { completions.record(value); }); break;
            case Op::destroy: channel.reset(); break;
            }
        }
        if (channel) {
            channel->stop();
            EXPECT_FALSE(channel->isRunning());
        }
        EXPECT_TRUE(completions.waitForCount(c.completions.size()));
        EXPECT_EQ(c.completions, completions.values());
        const auto all = endStates();
        ASSERT_FALSE(all.empty());
        EXPECT_EQ(c.end, all.back());
        EXPECT_EQ(State::stateRunning, m_events.values()[base].state);
        channel.reset();
        m_progress = 0;
        std::size_t endCount = 0;
        for (std::size_t i = base; i < m_events.values().size(); ++i) {
            const auto state = m_events.values()[i].state;
            endCount += state == 2 || state == 3 || state == 5 || state == 6;
        }
        EXPECT_EQ(1u, endCount);
    }
}

TEST_F(ChannelStateTest, StopAsyncOnAChannelThatNeverRanCompletesAtOnce)
{
    auto channel = makeChannel({});
    std::vector<int> values;
    channel->stopAsync([&values](int value) { values.push_back(value); });
    EXPECT_EQ(std::vector<int>{1}, values);
}

TEST_F(ChannelStateTest, ChannelPausedBeforeStartWaitsPausedThenRuns)
{
    Watchdog watchdog("paused before start");
    auto channel = makeChannel({});
    channel->pause();
    channel->start();
    EXPECT_EQ(State::stateRunning, eventAt(0).state);
    EXPECT_EQ(State::statePaused, eventAt(1).state);
    EXPECT_TRUE(channel->isPaused());
    EXPECT_EQ(0u, requests());
    channel->resume();
    EXPECT_EQ(State::stateRunning, eventAt(2).state);
    EXPECT_EQ(State::stateCompleted, eventAt(3).state);
    channel->stop();
    EXPECT_EQ(md5Hex(range()), md5Hex(localRange()));
}

// Pause, resume and stop from several threads at once never lose a wake-up: the channel ends
// when stopped, and a channel started again runs.
TEST_F(ChannelStateTest, RandomPauseResumeAndStopNeverHang)
{
    Watchdog watchdog("random operations", std::chrono::seconds(100));
    // Every pause ends a request, so each round makes thousands of loopback connections; one
    // refused among them is a retry here, not the end of the run this test is about.
    auto channel = startTrickling(1000);
    for (int round = 0; round < 3; ++round) {
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t)
            threads.emplace_back([&channel, t] {
                std::mt19937 random(t);
                for (int i = 0; i < 2000; ++i) {
                    if (random() % 2)
                        channel->pause();
                    else
                        channel->resume();
                }
            });
        for (auto& thread : threads)
            thread.join();
        channel->stop();
        EXPECT_FALSE(channel->isRunning());
        const auto ends = endStates();
        ASSERT_EQ(static_cast<std::size_t>(round + 1), ends.size());
        EXPECT_EQ(5, ends.back());
        channel->start();
    }
    channel->stop();
}

// A speed-limit wait ends at once on pause and stop.
TEST_F(ChannelStateTest, SpeedLimitWaitEndsOnPauseAndStop)
{
    Watchdog watchdog("a speed-limit wait");
    auto channel = startHeldByTheLimit();
    channel->pause();
    EXPECT_EQ(State::statePaused, eventAt(1).state);
    channel->resume();
    EXPECT_EQ(State::stateRunning, eventAt(2).state);
    channel->stop();
    EXPECT_EQ(State::stateStopRequested, endStates().back());
    EXPECT_EQ(0, m_progress.load());
}

TEST_F(ChannelStateTest, LiftingTheSpeedLimitLetsTheRangeFinish)
{
    Watchdog watchdog("a lifted limit");
    auto channel = startHeldByTheLimit();
    channel->setSpeedLimit(0);
    EXPECT_EQ(State::stateCompleted, eventAt(1).state);
    channel->stop();
    EXPECT_EQ(md5Hex(range()), md5Hex(localRange()));
}

// The back-off between attempts ends at once on stop.
TEST_F(ChannelStateTest, BackOffBetweenAttemptsEndsOnStop)
{
    Watchdog watchdog("a long back-off");
    m_seams.firstBackOff = std::chrono::hours(1);
    m_seams.maxBackOff = std::chrono::hours(1);
    m_service.faults().add({"GET", "/storage/*", 1, 0, fv_test::Fault::statusCode(500)});
    auto channel = makeChannel({});
    channel->setMaxRetries(5);
    channel->start();
    ASSERT_TRUE(m_service.log().waitForRequests(1, std::chrono::seconds(20)));
    channel->stop();
    EXPECT_EQ(State::stateStopRequested, endStates().back());
    EXPECT_EQ(1u, requests());
}

TEST(FileChannelsInfo, KeepsEachChannelsLastStateInCreationOrder)
{
    TestFile file;
    ChannelSeams seams;
    ChannelDescription description{"/nonexistent", 0, 1, "dl", ""};
    auto buffers = createTransferBufferManager(0);
    std::vector<std::shared_ptr<ITransferChannel>> made;
    for (int i = 0; i < 3; ++i) {
        made.push_back(
            std::make_shared<TestChannel>("http://127.0.0.1:1/", description, &file, buffers, ChannelScript{}, seams));
        file.add(made.back());
    }
    file.setState(made[1].get(), State::stateCompleted);
    file.setState(nullptr, State::stateErrored);
    std::vector<std::shared_ptr<ITransferChannel>> active;
    file.getActiveChannels(active);
    EXPECT_EQ((std::vector<std::shared_ptr<ITransferChannel>>{made[0], made[2]}), active);
    std::vector<std::shared_ptr<ITransferChannel>> visited;
    file.forEachChannel([&](const std::shared_ptr<ITransferChannel>& channel) {
        visited.push_back(channel);
        file.add(channel); // the list may change while it is walked
    });
    EXPECT_EQ(made, visited);
    EXPECT_FALSE(file.isReleased());
    file.callLocked();
    EXPECT_TRUE(file.isReleased());
}

// An event handler may stop its own channel: the request stands and the run ends on its own.
TEST_F(ChannelStateTest, StopFromTheChannelsOwnEventEndsTheRun)
{
    Watchdog watchdog("a stop from an event handler");
    struct StopOnFirstProgress {
        void onProgress(const void*, Poco::Int64&)
        {
            if (!stopped.exchange(true))
                channel->stop();
        }
        TestChannel* channel = nullptr;
        std::atomic<bool> stopped{false};
    } stopper;
    auto channel = makeChannel({});
    stopper.channel = channel.get();
    channel->progressEvent += Poco::delegate(&stopper, &StopOnFirstProgress::onProgress);
    channel->start();
    ASSERT_TRUE(fv_test::waitUntil([this] { return !endStates().empty(); }, 20000));
    channel->stop();
    EXPECT_EQ(std::vector<std::int32_t>{State::stateStopRequested}, endStates());
}
