#include "support/fixtures/GlibTsanSuppressions.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"
#include "support/gui/MainContextWait.h"

#include "browser/host/CefTask.h"
#include "browser/host/linux/CefUiThreadLinux.h"
#include "shell/FerrovanLogger.h"
#include "shell/linux/UiTaskQueueLinux.h"

#include <gtest/gtest.h>
#include <glib.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using namespace fv_test;
using namespace fvcef;

namespace {

// The test's thread plays the UI thread: it installs the queue and iterates its context.
class CefTaskTest : public ::testing::Test {
protected:
    void SetUp() override { ferrovan::CFerrovanLogger::setLogFilePath(m_dir.file("fv_app.log")); }
    void TearDown() override
    {
        m_uiThread.reset();
        m_queue.reset();
        runReady(m_context);
        g_main_context_unref(m_context);
        ferrovan::CFerrovanLogger::destroyInstance();
    }

    bool iterateUntil(const std::function<bool()>& condition) { return runContextUntil(m_context, condition); }

    TempDir m_dir;
    GMainContext* m_context = g_main_context_new();
    std::unique_ptr<ferrovan::UiTaskQueueLinux> m_queue = std::make_unique<ferrovan::UiTaskQueueLinux>(m_context);
    std::unique_ptr<ferrovan::CefUiThreadLinux> m_uiThread =
        std::make_unique<ferrovan::CefUiThreadLinux>(*m_queue, m_context);
    Watchdog m_watchdog{"task test", std::chrono::seconds(90)};
};

class CountingTask : public CefRefCounted<CefTask> {
public:
    explicit CountingTask(std::vector<int>& runs, int id) : m_runs(runs), m_id(id) {}
    void Execute() override { m_runs.push_back(m_id); }

private:
    std::vector<int>& m_runs;
    int m_id;
};

// The transfer library calls back with its locks held: a task run inside the post would take
// them again.
TEST_F(CefTaskTest, APostedTaskNeverRunsInsideThePostEvenOnTheUiThread)
{
    ASSERT_TRUE(CefCurrentlyOn(TID_UI));
    std::vector<int> runs;
    ASSERT_TRUE(CefPostTask(TID_UI, [&] { runs.push_back(1); }));
    ASSERT_TRUE(CefPostTask(TID_UI, CefRefPtr<CefTask>(new CountingTask(runs, 2))));
    ASSERT_TRUE(CefPostDelayedTask(
        TID_UI, [&] { runs.push_back(3); }, 0));
    EXPECT_TRUE(runs.empty());

    ASSERT_TRUE(iterateUntil([&] { return runs.size() == 3; }));
    EXPECT_EQ((std::vector<int>{1, 2, 3}), runs);
}

TEST_F(CefTaskTest, TasksFromEightThreadsEachRunOnceInTheirThreadsOrderOnTheUiThread)
{
    constexpr int kThreads = 8;
    constexpr int kTasksEach = 200;
    std::vector<int> runs;
    std::vector<std::thread::id> runThreads;
    std::atomic<int> refused{0};
    std::vector<std::thread> posters;
    for (int thread = 0; thread < kThreads; ++thread)
        posters.emplace_back([&, thread] {
            EXPECT_FALSE(CefCurrentlyOn(TID_UI));
            for (int task = 0; task < kTasksEach; ++task) {
                const int id = thread * kTasksEach + task;
                if (!CefPostTask(TID_UI, [&, id] {
                        runs.push_back(id);
                        runThreads.push_back(std::this_thread::get_id());
                    }))
                    ++refused;
            }
        });
    const bool allRan = iterateUntil([&] { return runs.size() == kThreads * kTasksEach; });
    for (std::thread& poster : posters)
        poster.join();
    ASSERT_TRUE(allRan);
    EXPECT_EQ(0, refused.load());

    std::vector<int> next(kThreads, 0);
    for (int id : runs) {
        EXPECT_EQ(next[id / kTasksEach], id % kTasksEach) << "task " << id;
        next[id / kTasksEach] = id % kTasksEach + 1;
    }
    for (const std::thread::id& thread : runThreads)
        EXPECT_EQ(std::this_thread::get_id(), thread);
}

TEST_F(CefTaskTest, ADelayedTaskRunsAfterTheUndelayedOnesPostedWithIt)
{
    std::vector<int> runs;
    std::thread poster([&] {
        CefPostDelayedTask(
            TID_UI, [&] { runs.push_back(0); }, 0);
        for (int id = 1; id <= 3; ++id)
            CefPostTask(TID_UI, [&, id] { runs.push_back(id); });
    });
    poster.join();
    CefPostDelayedTask(
        TID_UI, [&] { runs.push_back(5); }, 30);
    CefPostTask(TID_UI, [&] { runs.push_back(4); });

    ASSERT_TRUE(iterateUntil([&] { return runs.size() == 6; }));
    EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 0, 5}), runs);
}

TEST_F(CefTaskTest, TasksPostedOnceTheQueueIsGoneAreDroppedAndWaitingDelayedOnesNeverRun)
{
    std::vector<int> runs;
    auto captured = std::make_shared<int>(0);
    ASSERT_TRUE(CefPostDelayedTask(
        TID_UI, [&, captured] { runs.push_back(1); }, 20));
    runReady(m_context); // arms the timeout

    m_uiThread.reset();
    EXPECT_FALSE(CefCurrentlyOn(TID_UI));
    bool posted = true;
    std::thread poster([&] { posted = CefPostTask(TID_UI, [&] { runs.push_back(2); }); });
    poster.join();
    EXPECT_FALSE(posted);
    EXPECT_FALSE(CefPostDelayedTask(
        TID_UI, [&] { runs.push_back(3); }, 0));
    EXPECT_EQ(1, captured.use_count()) << "the waiting delayed task is released with the UI thread";

    // Long enough for the 20 ms timeout, had it stayed.
    runContextUntil(
        m_context, [] { return false; }, std::chrono::milliseconds(100));
    EXPECT_TRUE(runs.empty());
}

// A queued task of an earlier installation does not run under a later one.
TEST_F(CefTaskTest, TasksQueuedBeforeTheUiThreadEndedDoNotRunAfterIt)
{
    std::vector<int> runs;
    ASSERT_TRUE(CefPostTask(TID_UI, [&] { runs.push_back(1); }));
    m_uiThread.reset();
    m_uiThread = std::make_unique<ferrovan::CefUiThreadLinux>(*m_queue, m_context);
    ASSERT_TRUE(CefPostTask(TID_UI, [&] { runs.push_back(2); }));

    ASSERT_TRUE(iterateUntil([&] { return !runs.empty(); }));
    runReady(m_context);
    EXPECT_EQ(std::vector<int>{2}, runs);
}

} // namespace
