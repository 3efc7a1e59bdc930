#include "framework/TransferEngineBase.h"
#include "framework/TransferFile.h"
#include "support/fixtures/EventRecorder.h"
#include "transfers/framework/InertTransferGroup.h"
#include "support/fixtures/Watchdog.h"

#include <Poco/Delegate.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace fv_transfers;
using fv_test::EventRecorder;
using fv_test::waitUntil;

namespace {

// A channel whose run is a real thread that raises the state events a transfer channel raises,
// and ends when the test completes or fails it, or when it is stopped or cancelled.
class ScriptedChannel : public ITransferChannel {
public:
    explicit ScriptedChannel(ITransferFile* owner) : m_owner(owner) {}
    ~ScriptedChannel() override
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_running && m_state != stateStopRequested)
                m_state = stateCancelRequested;
            m_wake.notify_all();
        }
        join();
    }

    // The current run ends with that state (3 or 2); false when no run is in progress.
    bool finish(std::int32_t state)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_running)
            return false;
        m_end = state;
        m_wake.notify_all();
        return true;
    }
    // Runs on the channel's thread when a cancel reaches it, before it reports the end.
    void setOnCancel(std::function<void()> hook)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_onCancel = std::move(hook);
    }
    int starts() const { return m_starts.load(); }
    unsigned speedLimit() const { return m_limit.load(); }
    int maxRetries() const { return m_maxRetries.load(); }
    // A run in progress and not paused. A finished run stays so until its end event is posted.
    bool transferring()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_running && m_state == stateRunning;
    }
    // Transferring and not yet told how to end.
    bool unfinished()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_running && m_state == stateRunning && m_end == 0;
    }

    void setMaxRetries(int value) override { m_maxRetries = value; }
    void setSpeedLimit(unsigned value) override { m_limit = value; }
    void setTimeouts(const ChannelTimeouts&) override {}
    void setUrl(const std::string&) override {}
    // Only the engine thread starts, stops and joins a run (the destructor after the engine).
    int start() override
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_running)
                return 0;
            m_running = true;
            m_end = 0;
            m_expectedEnd = stateRunning;
            if (m_state != statePaused)
                m_state = stateRunning;
        }
        if (m_thread.joinable())
            m_thread.join(); // the previous run, past its last step
        ++m_starts;
        m_thread = std::thread([this] { run(); });
        return 0;
    }
    void stop() override
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_running && m_state != stateCancelRequested)
                m_state = stateStopRequested;
            m_wake.notify_all();
        }
        join();
    }
    bool isRunning() override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_running;
    }
    void stopAsync(std::function<void(int)> completion) override
    {
        int value = 0;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_running && m_state != stateStopRequested) {
                m_state = stateCancelRequested;
                m_expectedEnd = stateCancelRequested;
                m_completions.push_back(std::move(completion));
                m_wake.notify_all();
                return;
            }
            value = !m_running && m_lastEvent == 0 ? 1 : 0;
        }
        completion(value);
    }
    void pause() override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_state == stateRunning || m_state == stateNew)
            m_state = statePaused;
        m_wake.notify_all();
    }
    void resume() override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_state == statePaused)
            m_state = stateRunning;
        m_wake.notify_all();
    }
    bool isPaused() override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_state == statePaused;
    }
    std::uint64_t getOffset() override { return 0; }
    ITransferFile* getOwnerFile() override { return m_owner; }
    void setOwnerFile(ITransferFile* file) override { m_owner = file; }

private:
    void join()
    {
        if (m_thread.joinable() && std::this_thread::get_id() != m_thread.get_id())
            m_thread.join();
    }

    void raise(std::int32_t state)
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_lastEvent = state;
        }
        StateEventData data{state, 0};
        stateEvent.notify(static_cast<ITransferChannel*>(this), data);
    }

    void run()
    {
        raise(stateRunning);
        std::int32_t end = 0;
        bool pausedReported = false;
        std::function<void()> onCancel;
        {
            std::unique_lock<std::mutex> guard(m_lock);
            for (;;) {
                if (m_end != 0 || m_state == stateStopRequested || m_state == stateCancelRequested) {
                    end = m_end != 0 ? m_end : m_state.load();
                    if (end == stateCancelRequested)
                        onCancel = m_onCancel;
                    break;
                }
                const bool paused = m_state == statePaused;
                if (paused != pausedReported) {
                    pausedReported = paused;
                    guard.unlock();
                    raise(paused ? statePaused : stateRunning);
                    guard.lock();
                    continue;
                }
                m_wake.wait(guard);
            }
        }
        if (onCancel)
            onCancel();
        raise(end);
        std::vector<std::function<void(int)>> completions;
        bool asExpected = false;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_running = false;
            completions.swap(m_completions);
            asExpected = m_lastEvent == m_expectedEnd;
        }
        for (auto& completion : completions)
            completion(asExpected ? 1 : 0);
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::thread m_thread;
    bool m_running = false;
    std::atomic<std::int32_t> m_state{stateNew};
    std::int32_t m_end = 0;
    std::int32_t m_expectedEnd = stateRunning;
    std::int32_t m_lastEvent = 0;
    std::vector<std::function<void(int)>> m_completions;
    std::function<void()> m_onCancel;
    ITransferFile* m_owner;
    std::atomic<int> m_starts{0};
    std::atomic<unsigned> m_limit{0};
    std::atomic<int> m_maxRetries{-1};
};

class TestFile : public ITransferFile {
public:
    TestFile(int groupId, int channels) : m_groupId(groupId)
    {
        for (int i = 0; i < channels; ++i)
            m_channels.push_back(std::make_shared<ScriptedChannel>(this));
    }
    void getFileUid(std::string& uid) override { uid = "file"; }
    void getBucketId(std::string& bucketId) override { bucketId = "bucket"; }
    int getGroupId() override { return m_groupId; }
    void getActiveChannels(std::vector<std::shared_ptr<ITransferChannel>>& channels) override
    {
        channels.insert(channels.end(), m_channels.begin(), m_channels.end());
    }
    void callLocked() override {}

    ScriptedChannel& channel(std::size_t index) { return *m_channels.at(index); }
    const std::vector<std::shared_ptr<ScriptedChannel>>& channels() const { return m_channels; }

private:
    int m_groupId;
    std::vector<std::shared_ptr<ScriptedChannel>> m_channels;
};

// A group that hands out its files in order, once each.
class TestGroup : public fv_test::InertTransferGroup {
public:
    TestGroup() : InertTransferGroup(0, "bucket") {}

    std::atomic<std::int32_t> id{0};
    EventRecorder<bool> resumed;

    void addFile(std::shared_ptr<TestFile> file)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_waiting.push_back(std::move(file));
    }
    std::shared_ptr<TestFile> nextFile()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_waiting.empty())
            return nullptr;
        auto file = m_waiting.front();
        m_waiting.pop_front();
        return file;
    }

    std::int32_t getGroupId() const override { return id.load(); }
    void resumeGroupAsync(bool automatic) override { resumed.record(automatic); }

private:
    std::mutex m_lock;
    std::deque<std::shared_ptr<TestFile>> m_waiting;
};

class TestGroupManager : public CGroupManagerBase {
public:
    std::int32_t add(std::shared_ptr<TestGroup> group)
    {
        m_next = std::move(group);
        GroupInitParams params;
        return addGroup(params);
    }

protected:
    GroupPtr configureGroup(const CGroupsDbInfoBase::GroupInfo&, std::uint64_t, bool) override { return nullptr; }
    GroupPtr createGroup(GroupInitParams& params) override
    {
        m_next->id = params.groupId;
        return std::move(m_next);
    }
    bool collectGroupInfos(CDbDataLoader&, std::vector<GroupInfoPtr>&) override { return false; }
    bool selectMaxStoredGroupId(std::int32_t& maxGroupId) override
    {
        maxGroupId = -1;
        return true;
    }

private:
    std::shared_ptr<TestGroup> m_next;
};

constexpr int kSyncCode = 99; // no engine handles it: a marker that every earlier command ran

class TestEngine : public CTransferEngineBase {
public:
    TestEngine(CGroupManagerBase& manager, const Limits& limits)
        : CTransferEngineBase(manager,
                              EngineNames{"fv-test-engine", "test engine", "Test engine", "Initializing test engine!",
                                          "Uninitializing test engine"},
                              limits)
    {
        activeTransfersEvent += Poco::delegate(this, &TestEngine::onActive);
    }
    ~TestEngine() override
    {
        uninit();
        activeTransfersEvent -= Poco::delegate(this, &TestEngine::onActive);
    }

    EventRecorder<int> handled;
    EventRecorder<bool> activityEvents;
    EventRecorder<bool> activityHook;
    std::atomic<std::thread::id> engineThread{};

    // Waits until every command posted before it has been handled.
    bool sync()
    {
        const std::size_t before = count(kSyncCode);
        postCommand(kSyncCode);
        return waitUntil([&] { return count(kSyncCode) > before; });
    }
    std::size_t count(int code) const
    {
        const auto codes = handled.values();
        return static_cast<std::size_t>(std::count(codes.begin(), codes.end(), code));
    }

protected:
    FilePtr getGroupFile(const GroupPtr& group) override
    {
        auto testGroup = std::dynamic_pointer_cast<TestGroup>(group);
        return testGroup ? testGroup->nextFile() : nullptr;
    }
    bool handleCommand(int code, const Poco::Any& payload) override
    {
        engineThread = std::this_thread::get_id();
        bool end = false;
        if (code == engineAddFileChannels) {
            if (const auto* file = Poco::AnyCast<std::shared_ptr<TestFile>>(&payload))
                parkFileChannels(**file);
        } else {
            end = CTransferEngineBase::handleCommand(code, payload);
        }
        handled.record(code);
        return end;
    }
    void onActivityChangedLocked(bool active) override { activityHook.record(active); }

private:
    void onActive(const void*, const bool& active) { activityEvents.record(active); }
};

// A group manager, an engine on it and the groups' files, as the download side assembles them.
struct Rig {
    explicit Rig(std::uint32_t maxConcurrent, std::uint64_t throttle = 0)
        : engine(manager, CTransferEngineBase::Limits{maxConcurrent, 3, throttle})
    {
    }

    std::shared_ptr<TestGroup> addGroup(const std::vector<int>& channelsPerFile)
    {
        auto group = std::make_shared<TestGroup>();
        manager.add(group);
        for (int channels : channelsPerFile) {
            auto file = std::make_shared<TestFile>(group->id.load(), channels);
            group->addFile(file);
            files.push_back(file);
        }
        return group;
    }

    std::vector<ScriptedChannel*> allChannels() const
    {
        std::vector<ScriptedChannel*> channels;
        for (const auto& file : files)
            for (const auto& channel : file->channels())
                channels.push_back(channel.get());
        return channels;
    }
    std::size_t transferring() const
    {
        std::size_t count = 0;
        for (ScriptedChannel* channel : allChannels())
            count += channel->transferring() ? 1 : 0;
        return count;
    }
    ScriptedChannel* firstTransferring() const
    {
        for (ScriptedChannel* channel : allChannels())
            if (channel->unfinished())
                return channel;
        return nullptr;
    }
    // Ends one unfinished run and waits until its end event has been posted.
    bool finishOne(std::int32_t state = ITransferChannel::stateCompleted)
    {
        ScriptedChannel* channel = firstTransferring();
        return channel && channel->finish(state) && waitUntil([&] { return !channel->transferring(); });
    }
    bool settleAt(std::size_t count)
    {
        return waitUntil([&] { return transferring() == count; }) && engine.sync() && transferring() == count;
    }

    TestGroupManager manager;
    std::vector<std::shared_ptr<TestFile>> files;
    TestEngine engine; // declared after the files: it ends (and drops its channels) first
};

std::vector<std::shared_ptr<ITransferFile>> filesOf(const std::shared_ptr<TestFile>& file)
{
    return {file};
}

TEST(TransferEngineBase, RunsAtMostTheLimitAndEachCompletionStartsTheNext)
{
    fv_test::Watchdog watchdog("engine scheduling");
    Rig rig(2);
    rig.addGroup({1, 1, 1, 1, 1});
    rig.engine.init();
    rig.engine.postCommand(engineWake);
    ASSERT_TRUE(rig.settleAt(2));
    EXPECT_EQ(1, rig.files[0]->channel(0).starts());
    EXPECT_EQ(1, rig.files[1]->channel(0).starts());
    for (std::size_t done = 0; done < 5; ++done) {
        ASSERT_TRUE(rig.finishOne());
        ASSERT_TRUE(rig.settleAt(std::min<std::size_t>(2, 4 - done)));
    }
    for (ScriptedChannel* channel : rig.allChannels()) {
        EXPECT_EQ(1, channel->starts());
        EXPECT_EQ(3, channel->maxRetries());
    }
    for (const auto& file : rig.files)
        EXPECT_FALSE(rig.engine.hasChannelsOfFile(file.get()));
}

TEST(TransferEngineBase, ReportsActivityOnlyOnTransitions)
{
    fv_test::Watchdog watchdog("engine activity");
    Rig rig(2);
    auto group = rig.addGroup({2});
    rig.engine.init();
    for (int period = 1; period <= 2; ++period) {
        rig.engine.postCommand(engineWake);
        ASSERT_TRUE(rig.settleAt(2));
        for (int i = 0; i < 2; ++i)
            ASSERT_TRUE(rig.finishOne());
        ASSERT_TRUE(rig.settleAt(0));
        // Idle passes of every kind: none is a transition.
        rig.engine.postCommand(engineWake);
        rig.engine.postFiles(enginePauseFiles, std::vector<std::shared_ptr<TestFile>>{});
        rig.engine.postCommand(
            engineChannelCompleted,
            ITransferEngineCallback::ChannelInfo{rig.files.back()->channels()[0], ITransferChannel::stateCompleted});
        ASSERT_TRUE(rig.engine.sync());
        auto file = std::make_shared<TestFile>(group->id.load(), 2);
        group->addFile(file);
        rig.files.push_back(file);
    }
    const std::vector<bool> expected{true, false, true, false};
    EXPECT_EQ(expected, rig.engine.activityEvents.values());
    EXPECT_EQ(expected, rig.engine.activityHook.values());
}

struct ThrottleCase {
    std::uint64_t budget;
    int channels;
    unsigned share;
};

TEST(TransferEngineBase, DividesTheBudgetOverRunningChannels)
{
    const ThrottleCase cases[] = {
        {1000, 3, 333},
        {2, 3, 1}, // never 0, which would lift the limit
        {std::uint64_t{1} << 33, 1, std::numeric_limits<std::uint32_t>::max()},
        {0, 2, 0},
    };
    for (const ThrottleCase& c : cases) {
        SCOPED_TRACE(c.budget);
        fv_test::Watchdog watchdog("engine throttle");
        Rig rig(static_cast<std::uint32_t>(c.channels), c.budget);
        rig.addGroup({c.channels});
        rig.engine.init();
        rig.engine.postCommand(engineWake);
        ASSERT_TRUE(rig.settleAt(static_cast<std::size_t>(c.channels)));
        for (ScriptedChannel* channel : rig.allChannels())
            EXPECT_EQ(c.share, channel->speedLimit());
    }
}

TEST(TransferEngineBase, RedistributesTheBudgetAtEveryStartAndStopAndClearsIt)
{
    fv_test::Watchdog watchdog("engine throttle changes");
    Rig rig(3, 900);
    rig.addGroup({3});
    rig.engine.init();
    rig.engine.postCommand(engineWake);
    ASSERT_TRUE(rig.settleAt(3));
    ASSERT_TRUE(rig.finishOne());
    ASSERT_TRUE(rig.settleAt(2));
    for (ScriptedChannel* channel : rig.allChannels()) {
        if (channel->transferring()) {
            EXPECT_EQ(450u, channel->speedLimit());
        }
    }
    rig.engine.setThrottleBytesPerSecond(0);
    for (ScriptedChannel* channel : rig.allChannels()) {
        if (channel->transferring()) {
            EXPECT_EQ(0u, channel->speedLimit());
        }
    }
    rig.engine.setMaxConcurrentTransfers(0);
    EXPECT_EQ(1u, rig.engine.getMaxConcurrentTransfers());
}

TEST(TransferEngineBase, AFailedChannelParksItsWholeFileWithoutThreadsWhileOthersRun)
{
    fv_test::Watchdog watchdog("engine failure parking");
    Rig rig(3);
    rig.addGroup({4});
    rig.addGroup({1});
    TestFile& failing = *rig.files[0];
    TestFile& other = *rig.files[1];
    rig.engine.init();
    rig.engine.postCommand(engineWake);
    ASSERT_TRUE(rig.settleAt(3));
    ASSERT_EQ(0, failing.channel(3).starts());

    ASSERT_TRUE(failing.channel(0).finish(ITransferChannel::stateErrored));
    ASSERT_TRUE(waitUntil([&] { return other.channel(0).transferring(); }));
    ASSERT_TRUE(rig.settleAt(1));
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_FALSE(failing.channel(i).isRunning()) << i;
        EXPECT_EQ(i < 3 ? 1 : 0, failing.channel(i).starts()) << i;
    }
    EXPECT_TRUE(rig.engine.hasChannelsOfFile(&failing));
    EXPECT_EQ(1u, rig.engine.count(engineChannelErrored));
    EXPECT_EQ(0u, rig.engine.count(engineChannelPaused));

    rig.engine.postFiles(engineResumeFiles, filesOf(rig.files[0]));
    ASSERT_TRUE(rig.settleAt(3));
    EXPECT_EQ(2, failing.channel(0).starts());
    EXPECT_EQ(2, failing.channel(1).starts());
    EXPECT_EQ(1, failing.channel(2).starts());
    EXPECT_EQ(0, failing.channel(3).starts());
}

TEST(TransferEngineBase, CancelledFilesLeaveNothingAndTheGroupMovesOn)
{
    fv_test::Watchdog watchdog("engine cancel");
    Rig rig(1);
    rig.addGroup({2, 1});
    rig.engine.init();
    rig.engine.postCommand(engineWake);
    ASSERT_TRUE(rig.settleAt(1));
    ASSERT_TRUE(rig.files[0]->channel(0).transferring());

    rig.engine.postFiles(engineCancelFiles, filesOf(rig.files[0]));
    ASSERT_TRUE(waitUntil([&] { return rig.files[1]->channel(0).transferring(); }));
    ASSERT_TRUE(rig.engine.sync());
    EXPECT_FALSE(rig.engine.hasChannelsOfFile(rig.files[0].get()));
    EXPECT_FALSE(rig.files[0]->channel(0).isRunning());
    EXPECT_EQ(0, rig.files[0]->channel(1).starts());
    EXPECT_TRUE(rig.engine.hasChannelsOfFile(rig.files[1].get()));
}

TEST(TransferEngineBase, PauseThenResumeRestoresTheFile)
{
    fv_test::Watchdog watchdog("engine pause and resume");
    Rig rig(2);
    rig.addGroup({3});
    TestFile& file = *rig.files[0];
    rig.engine.init();
    rig.engine.postCommand(engineWake);
    ASSERT_TRUE(rig.settleAt(2));

    rig.engine.postFiles(enginePauseFiles, filesOf(rig.files[0]));
    ASSERT_TRUE(waitUntil([&] { return rig.engine.count(engineChannelPaused) == 2; }));
    ASSERT_TRUE(rig.settleAt(0));
    EXPECT_TRUE(file.channel(0).isPaused());
    EXPECT_EQ(0, file.channel(2).starts());
    ASSERT_TRUE(rig.engine.activityEvents.waitForCount(2));

    rig.engine.postFiles(engineResumeFiles, filesOf(rig.files[0]));
    ASSERT_TRUE(rig.settleAt(2));
    // The paused threads go on where they waited: nothing is started twice.
    for (int i = 0; i < 3; ++i)
        EXPECT_GE(1, file.channel(i).starts()) << i;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(rig.finishOne());
        ASSERT_TRUE(rig.settleAt(i == 0 ? 2 : (i == 1 ? 1 : 0)));
    }
    EXPECT_FALSE(rig.engine.hasChannelsOfFile(&file));
}

TEST(TransferEngineBase, StopRequeuesRunningChannelsAndARestartReportsEachEventOnce)
{
    fv_test::Watchdog watchdog("engine restart");
    Rig rig(1);
    rig.addGroup({1});
    ScriptedChannel& channel = rig.files[0]->channel(0);
    rig.engine.init();
    rig.engine.postCommand(engineWake);
    ASSERT_TRUE(rig.settleAt(1));

    rig.engine.uninit();
    EXPECT_FALSE(channel.isRunning());
    EXPECT_TRUE(rig.engine.hasChannelsOfFile(rig.files[0].get()));
    EXPECT_EQ((std::vector<bool>{true, false}), rig.engine.activityEvents.values());

    rig.engine.init();
    rig.engine.postCommand(engineWake);
    ASSERT_TRUE(rig.settleAt(1));
    EXPECT_EQ(2, channel.starts());
    channel.pause();
    ASSERT_TRUE(waitUntil([&] { return rig.engine.count(engineChannelPaused) >= 1; }));
    rig.engine.postFiles(engineResumeFiles, filesOf(rig.files[0]));
    ASSERT_TRUE(rig.settleAt(1));
    ASSERT_TRUE(channel.finish(ITransferChannel::stateCompleted));
    // Busy from the restart to the pause, and from the resume to the end.
    ASSERT_TRUE(rig.engine.activityEvents.waitForCount(6));
    ASSERT_TRUE(rig.engine.sync());
    EXPECT_EQ((std::vector<bool>{true, false, true, false, true, false}), rig.engine.activityEvents.values());
    EXPECT_EQ(1u, rig.engine.count(engineChannelPaused));
    EXPECT_EQ(1u, rig.engine.count(engineChannelCompleted));
    EXPECT_FALSE(rig.engine.hasChannelsOfFile(rig.files[0].get()));
}

TEST(TransferEngineBase, AStopWithoutARunningThreadDoesNotEndTheNextStart)
{
    fv_test::Watchdog watchdog("engine uninit before init");
    Rig rig(1);
    rig.engine.uninit();
    rig.engine.postCommand(engineStop); // left over from a thread that was not running
    rig.engine.init();
    ASSERT_TRUE(rig.engine.sync());
    EXPECT_TRUE(rig.engine.isThreadRunning());
    EXPECT_EQ(0u, rig.engine.count(engineStop));
    rig.engine.uninit();
    EXPECT_FALSE(rig.engine.isThreadRunning());
}

TEST(TransferEngineBase, ResumesAGroupByIdOnTheEngineThreadOnlyWhileListed)
{
    fv_test::Watchdog watchdog("engine group resume");
    Rig rig(1);
    auto listed = rig.addGroup({});
    auto removed = rig.addGroup({});
    rig.manager.removeGroup(removed);
    rig.engine.init();

    rig.engine.resumeGroup(removed->id.load(), true);
    rig.engine.resumeGroup(listed->id.load(), true);
    ASSERT_TRUE(listed->resumed.waitForCount(1));
    ASSERT_TRUE(rig.engine.sync());
    EXPECT_EQ(std::vector<bool>{true}, listed->resumed.values());
    EXPECT_EQ(rig.engine.engineThread.load(), listed->resumed.threads().at(0));
    EXPECT_TRUE(removed->resumed.values().empty());
}

TEST(TransferEngineBase, AddedChannelsAreParkedOnceAndStartWithTheirFile)
{
    fv_test::Watchdog watchdog("engine added channels");
    Rig rig(2);
    auto group = std::make_shared<TestGroup>();
    rig.manager.add(group);
    auto file = std::make_shared<TestFile>(group->id.load(), 2);
    rig.files.push_back(file);
    rig.engine.init();
    rig.engine.postCommand(engineAddFileChannels, file);
    rig.engine.postCommand(engineAddFileChannels, file);
    ASSERT_TRUE(rig.settleAt(0));
    EXPECT_TRUE(rig.engine.hasChannelsOfFile(file.get()));

    group->addFile(file);
    rig.engine.postCommand(engineWake);
    ASSERT_TRUE(rig.settleAt(2));
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(rig.finishOne());
    ASSERT_TRUE(rig.settleAt(0));
    EXPECT_EQ(1, file->channel(0).starts());
    EXPECT_EQ(1, file->channel(1).starts());
    EXPECT_FALSE(rig.engine.hasChannelsOfFile(file.get()));
}

// While a failure's stops are awaited, the channel lists stay readable: from another thread and
// from a stopping channel's own thread.
TEST(TransferEngineBase, ListsStayReadableWhileAFailureWaitsForStops)
{
    fv_test::Watchdog watchdog("engine lock during stops");
    Rig rig(2);
    rig.addGroup({2});
    TestFile& file = *rig.files[0];
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    std::promise<bool> fromChannel;
    file.channel(1).setOnCancel([&] {
        fromChannel.set_value(rig.engine.hasChannelsOfFile(&file));
        opened.wait();
    });
    rig.engine.init();
    rig.engine.postCommand(engineWake);
    ASSERT_TRUE(rig.settleAt(2));

    ASSERT_TRUE(file.channel(0).finish(ITransferChannel::stateErrored));
    auto channelAnswer = fromChannel.get_future();
    ASSERT_EQ(std::future_status::ready, channelAnswer.wait_for(std::chrono::seconds(10)));
    EXPECT_TRUE(channelAnswer.get());
    auto otherAnswer = std::async(std::launch::async, [&] { return rig.engine.hasChannelsOfFile(&file); });
    ASSERT_EQ(std::future_status::ready, otherAnswer.wait_for(std::chrono::seconds(10)));
    EXPECT_TRUE(otherAnswer.get());
    gate.set_value();
    ASSERT_TRUE(rig.settleAt(0));
    EXPECT_TRUE(rig.engine.hasChannelsOfFile(&file));
}

TEST(TransferEngineBase, ListsAreReadConcurrentlyWithFailuresAndStops)
{
    fv_test::Watchdog watchdog("engine concurrent reads");
    Rig rig(2);
    rig.addGroup({2, 2, 2});
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done.load())
            for (const auto& file : rig.files)
                rig.engine.hasChannelsOfFile(file.get());
    });
    rig.engine.init();
    rig.engine.postCommand(engineWake);
    ASSERT_TRUE(rig.settleAt(2));
    ASSERT_TRUE(rig.files[0]->channel(1).finish(ITransferChannel::stateErrored));
    ASSERT_TRUE(waitUntil([&] { return rig.files[1]->channel(1).transferring(); }));
    rig.engine.uninit();
    rig.engine.init();
    rig.engine.postCommand(engineWake);
    ASSERT_TRUE(rig.settleAt(2));
    rig.engine.uninit();
    done = true;
    reader.join();
    EXPECT_TRUE(rig.engine.hasChannelsOfFile(rig.files[0].get()));
    EXPECT_TRUE(rig.engine.hasChannelsOfFile(rig.files[1].get()));
    EXPECT_FALSE(rig.engine.hasChannelsOfFile(rig.files[2].get())); // its group has not handed it out
}

} // namespace
