#include "framework/FailedGroupsRestarter.h"
#include "framework/GroupBase.h"
#include "support/fixtures/EventRecorder.h"
#include "support/fixtures/LogCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace fv_transfers;

namespace {

using State = CTransferManagerBase::GroupState;
constexpr std::int32_t kTransferring = CTransferManagerBase::FILE_TRANSFERRING;
constexpr std::int32_t kCompleted = CTransferManagerBase::FILE_COMPLETED;
constexpr std::int32_t kErrored = CTransferManagerBase::FILE_ERRORED;
constexpr std::int32_t kQueued = 4;
constexpr std::int32_t kGeneral = 4;

struct TestCallback {
    fv_test::EventRecorder<State> events;
};

struct TestFile {
    std::string uid;
};

struct TestDetails {
    std::string note;
};

// Answers resume requests as the engine thread would: by the group's resumeGroupAsync.
class TestEngine : public ITransferEngineCallback {
public:
    void resumeGroup(std::int32_t groupId, bool flag) override
    {
        requests.record({groupId, flag});
        if (auto group = target.lock())
            group->resumeGroupAsync(flag);
    }
    bool hasChannelsOfFile(const ITransferFile*) const override { return false; }

    fv_test::EventRecorder<std::pair<std::int32_t, bool>> requests;
    std::weak_ptr<ITransferGroup> target;
};

// The pure operations done as a concrete group does them, on a state record of its own; file
// events come from the test.
class TestGroup : public CGroupBase<TestCallback, TestFile, TestDetails> {
public:
    TestGroup(std::int32_t id, TestCallback* callback, ITransferEngineCallback* engine, ClockFunction now = Clock::now)
        : CGroupBase(makeParams(id), callback, std::move(now)), m_engine(engine)
    {
        m_record.id = id;
    }

    struct EntryShape {
        std::int32_t state;
        bool pending;
        bool enabled;
        std::uint64_t size;
    };

    void addEntries(const std::vector<EntryShape>& shapes)
    {
        std::lock_guard<std::mutex> lock(groupLock());
        for (const EntryShape& shape : shapes) {
            FileEntry& entry = makeFileEntry("f" + std::to_string(m_files.size()), TestDetails{}, shape.size);
            entry.file = std::make_shared<TestFile>(TestFile{entry.fileUid});
            entry.state = shape.state;
            entry.pending = shape.pending;
            entry.enabled = shape.enabled;
            entry.transferredBytes = shape.state == kCompleted ? shape.size
                                     : shape.state == kQueued  ? 0
                                                               : shape.size / 2;
        }
    }

    // A file's event as a concrete group handles it: entry, error, then the group's state.
    bool fileEvent(std::size_t index, std::int32_t state, std::int32_t error = 0, bool force = true)
    {
        std::lock_guard<std::mutex> lock(groupLock());
        if (index >= m_files.size())
            return false; // cancelled: the engine took the files
        auto entry = std::next(m_files.begin(), static_cast<std::ptrdiff_t>(index));
        entry->state = state;
        entry->pending = false;
        if (state == kErrored)
            noteFileError(error);
        return notifyGroupStateChanged(force, state);
    }

    bool evaluate(bool force, std::int32_t reason)
    {
        std::lock_guard<std::mutex> lock(groupLock());
        return notifyGroupStateChanged(force, reason);
    }

    void setPreviousState(std::int32_t state)
    {
        std::lock_guard<std::mutex> lock(groupLock());
        m_record.state = state;
        m_record.paused = state == CTransferManagerBase::GROUP_PAUSED;
    }

    bool gate()
    {
        std::lock_guard<std::mutex> lock(groupLock());
        return checkLastEventTime();
    }

    void openGate()
    {
        std::lock_guard<std::mutex> lock(groupLock());
        resetLastEventTime();
    }

    State record() const
    {
        std::lock_guard<std::mutex> lock(groupLock());
        return m_record;
    }

    bool isPaused() override
    {
        std::lock_guard<std::mutex> lock(groupLock());
        return m_record.paused;
    }

    std::atomic<bool> completionAllowed{true};
    std::atomic<int> rowsRemoved{0};
    std::atomic<int> retryCounterSaves{0};
    std::atomic<int> filesCancelled{0};

protected:
    void resumeFiles() override
    {
        for (FileEntry& entry : m_files) {
            if (entry.state == kErrored)
                entry.state = kTransferring;
        }
    }
    void setState(std::int32_t stateCode, std::int32_t value) override
    {
        m_record.state = stateCode;
        m_record.errorCode = value;
        m_record.paused = stateCode == CTransferManagerBase::GROUP_PAUSED;
        if (TestCallback* callback = getCallback())
            callback->events.record(m_record);
    }
    bool notifyGroupStateChanged(bool force, std::int32_t reason) override
    {
        const bool changed = fillGroupState(m_record, force, reason);
        if (changed && getCallback())
            getCallback()->events.record(m_record);
        return changed;
    }
    void pauseFiles() override {}
    void cancelFiles() override
    {
        ++filesCancelled;
        // The engine takes the files away; what is left may all read done.
        m_files.clear();
        invalidateTotal();
    }
    ITransferEngineCallback* getEngineCallback() const override { return m_engine; }
    void saveRetryCounter() override { ++retryCounterSaves; }
    bool canComplete() override { return completionAllowed; }
    void removeFromDb() override { ++rowsRemoved; }

private:
    static GroupInitParams makeParams(std::int32_t id)
    {
        GroupInitParams params;
        params.bucketId = "bucket-" + std::to_string(id);
        params.groupId = id;
        return params;
    }

    ITransferEngineCallback* const m_engine;
    State m_record;
};

bool isRegistered(const ITransferGroup* group)
{
    auto restarter = CFailedGroupsRestarter::findInstance();
    return restarter && restarter->isRegistered(group);
}

// Each test starts with no process restarter; the one a test makes is stopped after it.
struct GroupBase : ::testing::Test {
    void SetUp() override { CFailedGroupsRestarter::destroyInstance(); }
    void TearDown() override { CFailedGroupsRestarter::destroyInstance(); }

    TestCallback callback;
    TestEngine engine;
};

TestGroup::EntryShape done(std::uint64_t size = 100)
{
    return {kCompleted, false, true, size};
}
TestGroup::EntryShape running()
{
    return {kTransferring, false, true, 100};
}
TestGroup::EntryShape failed(bool enabled = true)
{
    return {kErrored, false, enabled, 100};
}
TestGroup::EntryShape queued()
{
    return {kQueued, true, true, 100};
}

struct StateCase {
    struct Given {
        std::vector<TestGroup::EntryShape> entries;
        std::int32_t reason;
        std::int32_t previousState;
        bool force = false;
        bool canComplete = true;
    };
    struct Expected {
        std::int32_t state;
        float percent;
        bool sent;
        int rowsRemoved;
        bool errorHandled; // counted, stored and registered for a retry
    };
    const char* name;
    Given given;
    Expected expected;
};

const std::vector<StateCase>& stateCases()
{
    constexpr auto T = CTransferManagerBase::GROUP_TRANSFERRING;
    constexpr auto E = CTransferManagerBase::GROUP_ERRORED;
    constexpr auto C = CTransferManagerBase::GROUP_COMPLETED;
    constexpr auto P = CTransferManagerBase::GROUP_PAUSED;
    static const std::vector<StateCase> cases = {
        {"all done, general", {{done(), done()}, kGeneral, T}, {C, 100, true, 1, false}},
        {"all done by the last file", {{done()}, kCompleted, T}, {C, 100, true, 1, false}},
        {"a transferring file's event never completes", {{done()}, kTransferring, T}, {T, 100, true, 0, false}},
        {"progress without force is not sent", {{done(), running()}, kTransferring, T}, {T, 75, false, 0, false}},
        {"progress with force is sent", {{done(), running()}, kTransferring, T, true}, {T, 75, true, 0, false}},
        {"last file failed", {{done(), failed()}, kErrored, T}, {E, 75, true, 0, true}},
        {"every file failed, general", {{failed(), failed()}, kGeneral, T}, {E, 50, true, 0, true}},
        {"an errored group with a new file transfers",
         {{failed(), queued()}, kGeneral, E, true},
         {T, 25, true, 0, false}},
        {"a queued file keeps the group open", {{done(), queued()}, kGeneral, T}, {T, 50, false, 0, false}},
        {"a disabled file does not count", {{done(), failed(false)}, kGeneral, T}, {C, 100, true, 1, false}},
        {"not allowed to complete yet", {{done()}, kGeneral, T, false, false}, {T, 100, true, 0, false}},
        {"an empty group completes", {{}, kGeneral, T}, {C, 100, true, 1, false}},
        {"files of size 0", {{done(0), done(0)}, kGeneral, T}, {C, 100, true, 1, false}},
        {"an errored group looked at again uses no retry", {{done(), failed()}, kGeneral, E}, {E, 75, true, 0, false}},
        {"a paused group stays paused when its last file fails",
         {{done(), failed()}, kErrored, P},
         {P, 75, true, 0, false}},
    };
    return cases;
}

} // namespace

TEST_F(GroupBase, StateTable)
{
    for (const StateCase& c : stateCases()) {
        SCOPED_TRACE(c.name);
        CFailedGroupsRestarter::destroyInstance();
        auto group = std::make_shared<TestGroup>(1, &callback, nullptr);
        group->addEntries(c.given.entries);
        group->setPreviousState(c.given.previousState);
        group->completionAllowed = c.given.canComplete;

        const bool sent = group->evaluate(c.given.force, c.given.reason);

        const State state = group->record();
        EXPECT_EQ(c.expected.state, state.state);
        EXPECT_FLOAT_EQ(c.expected.percent, state.percentTransferred);
        EXPECT_EQ(c.expected.sent, sent);
        EXPECT_EQ(c.expected.rowsRemoved, group->rowsRemoved.load());
        EXPECT_EQ(c.expected.errorHandled ? 1u : 0u, state.retryCounter);
        EXPECT_EQ(c.expected.errorHandled, isRegistered(group.get()));
    }
}

TEST_F(GroupBase, CompletedIsReportedOnce)
{
    auto group = std::make_shared<TestGroup>(1, &callback, nullptr);
    group->addEntries({{kTransferring, false, true, 10}, {kCompleted, false, true, 10}});

    EXPECT_TRUE(group->fileEvent(0, kCompleted));
    EXPECT_FALSE(group->fileEvent(0, kCompleted));
    EXPECT_FALSE(group->evaluate(true, kGeneral));

    int completed = 0;
    for (const State& event : callback.events.values())
        completed += event.state == CTransferManagerBase::GROUP_COMPLETED ? 1 : 0;
    EXPECT_EQ(1, completed);
    EXPECT_EQ(1, group->rowsRemoved.load());
}

TEST_F(GroupBase, AfterTenAutomaticRetriesTheGroupStaysPausedWithItsError)
{
    fv_test::LogCapture log;
    auto group = std::make_shared<TestGroup>(3, &callback, &engine);
    engine.target = group;
    group->addEntries({{kCompleted, false, true, 10}, {kTransferring, false, true, 10}});

    for (std::uint32_t attempt = 1; attempt <= 10; ++attempt) {
        group->fileEvent(1, kErrored, 14);
        ASSERT_EQ(CTransferManagerBase::GROUP_ERRORED, group->record().state);
        ASSERT_EQ(attempt, group->record().retryCounter);
        ASSERT_TRUE(isRegistered(group.get()));
        // What the restarter does when the group falls due.
        group->requestResume(true);
        ASSERT_EQ(CTransferManagerBase::GROUP_TRANSFERRING, group->record().state);
        ASSERT_FALSE(isRegistered(group.get()));
    }

    group->fileEvent(1, kErrored, 14);
    State state = group->record();
    EXPECT_EQ(CTransferManagerBase::GROUP_PAUSED, state.state);
    EXPECT_TRUE(state.paused);
    EXPECT_EQ(14, state.errorCode);
    EXPECT_EQ(10u, state.retryCounter);
    EXPECT_FALSE(isRegistered(group.get()));
    EXPECT_EQ(1, log.count("Group 3 has reached maximum number of auto retires (10). Not registering group in group "
                           "restarter. Group has to be restarted manually."));
    // Later looks at the group change nothing.
    group->evaluate(true, kGeneral);
    EXPECT_EQ(CTransferManagerBase::GROUP_PAUSED, group->record().state);
    EXPECT_FALSE(isRegistered(group.get()));

    // A resume by the user starts counting again.
    group->requestResume(false);
    EXPECT_EQ(1, log.count("Group is manually resumed, resetting error counter"));
    state = group->record();
    EXPECT_EQ(CTransferManagerBase::GROUP_TRANSFERRING, state.state);
    EXPECT_EQ(0, state.errorCode);
    group->fileEvent(1, kErrored, 9);
    state = group->record();
    EXPECT_EQ(CTransferManagerBase::GROUP_ERRORED, state.state);
    EXPECT_EQ(9, state.errorCode);
    EXPECT_EQ(1u, state.retryCounter);
    EXPECT_TRUE(isRegistered(group.get()));
}

TEST_F(GroupBase, AnErroredGroupIsResumedByTheRestarter)
{
    auto group = std::make_shared<TestGroup>(5, &callback, &engine);
    engine.target = group;
    group->addEntries({{kTransferring, false, true, 10}});
    CFailedGroupsRestarter::getInstance()->setInterval(std::chrono::milliseconds(1));

    group->fileEvent(0, kErrored, 2);

    ASSERT_TRUE(engine.requests.waitForCount(1));
    EXPECT_EQ(std::make_pair(5, true), engine.requests.values().front());
    EXPECT_TRUE(fv_test::waitUntil([&] { return group->record().state == CTransferManagerBase::GROUP_TRANSFERRING; }));
    EXPECT_EQ(1u, group->record().retryCounter);
}

TEST_F(GroupBase, ACancelledGroupNeverReportsCompleted)
{
    auto group = std::make_shared<TestGroup>(1, &callback, &engine);
    engine.target = group;
    group->addEntries({{kCompleted, false, true, 10}, {kTransferring, false, true, 10}});

    group->cancel();

    ASSERT_TRUE(callback.events.waitForCount(1));
    const State reported = callback.events.values().back();
    EXPECT_TRUE(reported.cancelled);
    EXPECT_NE(CTransferManagerBase::GROUP_COMPLETED, reported.state);
    EXPECT_EQ(1, group->filesCancelled.load());
    EXPECT_TRUE(group->isCancelled());

    // Its entries are gone (all done, as far as a count goes), events still arrive.
    group->evaluate(true, kGeneral);
    group->resetFileEntries();
    group->requestResume(true);
    group->cancel();
    for (const State& event : callback.events.values())
        EXPECT_NE(CTransferManagerBase::GROUP_COMPLETED, event.state);
    EXPECT_EQ(0, group->rowsRemoved.load());
    EXPECT_EQ(1, group->filesCancelled.load());
    EXPECT_FALSE(isRegistered(group.get()));
}

TEST_F(GroupBase, ACancelledGroupIsNotRetried)
{
    auto group = std::make_shared<TestGroup>(1, &callback, &engine);
    group->addEntries({{kTransferring, false, true, 10}});
    group->fileEvent(0, kErrored, 2);
    ASSERT_TRUE(isRegistered(group.get()));

    group->cancel();

    EXPECT_FALSE(isRegistered(group.get()));
    group->evaluate(true, kErrored);
    EXPECT_FALSE(isRegistered(group.get()));
}

TEST_F(GroupBase, CancelRacingTheLastFileNeverReportsCompletedAfterCancelled)
{
    for (int round = 0; round < 50; ++round) {
        TestCallback events;
        auto group = std::make_shared<TestGroup>(1, &events, nullptr);
        group->addEntries({{kCompleted, false, true, 10}, {kTransferring, false, true, 10}});
        std::thread last([&] { group->fileEvent(1, kCompleted); });
        group->cancel();
        last.join();

        bool cancelledSeen = false;
        int completed = 0;
        for (const State& event : events.events.values()) {
            cancelledSeen = cancelledSeen || event.cancelled;
            if (event.state == CTransferManagerBase::GROUP_COMPLETED) {
                ++completed;
                EXPECT_FALSE(cancelledSeen);
                EXPECT_FALSE(event.cancelled);
            }
        }
        EXPECT_LE(completed, 1);
    }
}

TEST_F(GroupBase, FileEventsPassTheGateAtLeast250MsApart)
{
    auto now = std::make_shared<TestGroup::Clock::time_point>(TestGroup::Clock::now());
    auto group = std::make_shared<TestGroup>(1, &callback, nullptr, [now] { return *now; });
    using std::chrono::milliseconds;

    EXPECT_TRUE(group->gate());
    *now += milliseconds(100);
    EXPECT_FALSE(group->gate());
    *now += milliseconds(149);
    EXPECT_FALSE(group->gate());
    *now += milliseconds(1);
    EXPECT_TRUE(group->gate());
    *now += milliseconds(10);
    EXPECT_FALSE(group->gate());
    group->openGate();
    EXPECT_TRUE(group->gate());
}

TEST_F(GroupBase, ResumeRequestsGoToTheEngineByGroupId)
{
    auto group = std::make_shared<TestGroup>(42, &callback, &engine);
    group->requestResume(false);
    ASSERT_EQ(1u, engine.requests.values().size());
    EXPECT_EQ(std::make_pair(42, false), engine.requests.values().front());

    auto detached = std::make_shared<TestGroup>(43, &callback, nullptr);
    detached->requestResume(true); // nothing to ask, nothing happens
    EXPECT_EQ(1u, engine.requests.values().size());
}
