#include "support/gui/MainContextWait.h"
#include "support/fixtures/GlibTsanSuppressions.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"

#include "shell/FerrovanLogger.h"
#include "shell/linux/UiTaskQueueLinux.h"

#include <Poco/Exception.h>
#include <gtest/gtest.h>
#include <glib.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace fv_test;
using ferrovan::CFerrovanLogger;
using ferrovan::UiTaskQueueLinux;

namespace {

// A context of the test's own, iterated by the test's thread as the UI thread iterates the
// default one.
class UiTaskQueueLinuxTest : public ::testing::Test {
protected:
    void SetUp() override { CFerrovanLogger::setLogFilePath(m_dir.file("fv_app.log")); }
    void TearDown() override
    {
        CFerrovanLogger::destroyInstance();
        g_main_context_unref(m_context);
    }

    bool iterateUntil(const std::function<bool()>& condition) { return fv_test::runContextUntil(m_context, condition); }

    std::string log() const { return readFile(m_dir.file("fv_app.log")); }

    TempDir m_dir;
    GMainContext* m_context = g_main_context_new();
    Watchdog m_watchdog{"UI task queue test", std::chrono::seconds(90)};
};

// Tasks the test's thread saw run, in order; posting threads may add concurrently.
class RunRecord {
public:
    std::function<void()> task(int id)
    {
        return [this, id] {
            m_ids.push_back(id);
            m_threads.push_back(std::this_thread::get_id());
        };
    }
    std::size_t size() const { return m_ids.size(); }

    std::vector<int> m_ids;
    std::vector<std::thread::id> m_threads;
};

TEST_F(UiTaskQueueLinuxTest, TasksRunInPostingOrderOnTheIteratingThread)
{
    UiTaskQueueLinux queue(m_context);
    RunRecord record;
    for (int id = 0; id < 5; ++id)
        queue.post(record.task(id));

    ASSERT_TRUE(iterateUntil([&] { return record.size() == 5; }));
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4}), record.m_ids);
    for (const std::thread::id& thread : record.m_threads)
        EXPECT_EQ(std::this_thread::get_id(), thread);
}

// Each thread's tasks keep their order, and none is lost while the context runs the others.
TEST_F(UiTaskQueueLinuxTest, TasksPostedFromSeveralThreadsAllRunInEachThreadsOrder)
{
    constexpr int kThreads = 4;
    constexpr int kTasksEach = 100;
    UiTaskQueueLinux queue(m_context);
    RunRecord record;
    std::vector<std::thread> posters;
    for (int thread = 0; thread < kThreads; ++thread)
        posters.emplace_back([&, thread] {
            for (int task = 0; task < kTasksEach; ++task)
                queue.post(record.task(thread * kTasksEach + task));
        });
    const bool allRan = iterateUntil([&] { return record.size() == kThreads * kTasksEach; });
    for (std::thread& poster : posters)
        poster.join();
    ASSERT_TRUE(allRan);

    std::vector<int> next(kThreads, 0);
    for (int id : record.m_ids) {
        EXPECT_EQ(next[id / kTasksEach], id % kTasksEach) << "task " << id;
        next[id / kTasksEach] = id % kTasksEach + 1;
    }
    for (const std::thread::id& thread : record.m_threads)
        EXPECT_EQ(std::this_thread::get_id(), thread);
}

TEST_F(UiTaskQueueLinuxTest, ATaskPostedByATaskRunsAfterThoseQueuedBeforeIt)
{
    UiTaskQueueLinux queue(m_context);
    RunRecord record;
    queue.post([&] {
        record.task(1)();
        queue.post(record.task(3));
    });
    queue.post(record.task(2));

    ASSERT_TRUE(iterateUntil([&] { return record.size() == 3; }));
    EXPECT_EQ((std::vector<int>{1, 2, 3}), record.m_ids);
}

struct ThrowCase {
    const char* name;
    std::function<void()> fail;
    const char* logged;
};

TEST_F(UiTaskQueueLinuxTest, AThrowingTaskIsLoggedAndTheOthersStillRun)
{
    const ThrowCase cases[] = {
        {"standard", [] { throw std::runtime_error("standard failure"); }, "standard failure"},
        {"Poco", [] { throw Poco::FileNotFoundException("/missing/file"); }, "File not found: /missing/file"},
        {"other", [] { throw 7; }, "unknown exception"},
    };
    UiTaskQueueLinux queue(m_context);
    for (const ThrowCase& c : cases) {
        SCOPED_TRACE(c.name);
        RunRecord record;
        queue.post(record.task(1));
        queue.post(c.fail);
        queue.post(record.task(2));
        ASSERT_TRUE(iterateUntil([&] { return record.size() == 2; }));
        EXPECT_EQ((std::vector<int>{1, 2}), record.m_ids);
        EXPECT_NE(std::string::npos, log().find(std::string("ferrovan::UiTaskQueueLinux::runTasks: ") + c.logged));
    }
}

TEST_F(UiTaskQueueLinuxTest, TasksStillQueuedWhenTheQueueEndsAreDroppedUnrun)
{
    RunRecord record;
    auto captured = std::make_shared<int>(0);
    std::thread poster;
    {
        UiTaskQueueLinux queue(m_context);
        poster = std::thread([&] {
            queue.post(record.task(1));
            queue.post([captured, &record] { record.task(2)(); });
        });
        poster.join();
    }
    fv_test::runReady(m_context);
    EXPECT_EQ(0u, record.size());
    EXPECT_EQ(1, captured.use_count()) << "a dropped task is destroyed with the queue";

    // The context is left without the queue's source: later queues on it still work.
    UiTaskQueueLinux next(m_context);
    next.post(record.task(3));
    ASSERT_TRUE(iterateUntil([&] { return record.size() == 1; }));
    EXPECT_EQ(std::vector<int>{3}, record.m_ids);
}

} // namespace
