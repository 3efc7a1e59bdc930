#include "browser/WindowPlacementSaver.h"
#include "shell/AppSettings.h"

#include "support/fixtures/TestEnvironment.h"

#include <Poco/File.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using ferrovan::AppSettings;
using ferrovan::WindowPlacementSaver;

struct Saved {
    int top, left, width, height;
    bool maximized;

    bool operator==(const Saved& other) const
    {
        return top == other.top && left == other.left && width == other.width && height == other.height &&
               maximized == other.maximized;
    }
};

std::ostream& operator<<(std::ostream& out, const Saved& s)
{
    return out << "{" << s.top << ", " << s.left << ", " << s.width << ", " << s.height << ", " << s.maximized << "}";
}

// The saver over a real settings file, with its timer in the test's hands: a scheduled save runs
// when the test says the delay has passed. Whether the file was written is seen by removing it
// and checking whether it comes back.
class PlacementSaving : public ::testing::Test {
protected:
    PlacementSaving()
    {
        fv_test::writeFile(path(), R"({"window": {"top": 10, "left": 20, "width": 800, "height": 600,
                                       "maximized": false}})");
        m_settings = new AppSettings(path());
        m_saver =
            std::make_unique<WindowPlacementSaver>(m_settings, [this](unsigned delayMs, std::function<void()> task) {
                EXPECT_EQ(WindowPlacementSaver::kSaveDelayMs, delayMs);
                m_due.push_back(std::move(task));
            });
        Poco::File(path()).remove();
    }

    std::string path() const { return m_dir.file("fv_settings.json"); }
    bool written() const { return Poco::File(path()).exists(); }

    // What the next start reads; the file is removed again to see the next write.
    Saved takeSaved()
    {
        const AppSettings read(path());
        Poco::File(path()).remove();
        return {read.getTop(), read.getLeft(), read.getWidth(), read.getHeight(), read.isMaximized()};
    }

    void runDueSaves()
    {
        std::vector<std::function<void()>> due;
        due.swap(m_due);
        for (const auto& task : due)
            task();
    }

    fv_test::TempDir m_dir;
    Poco::SharedPtr<AppSettings> m_settings;
    std::unique_ptr<WindowPlacementSaver> m_saver;
    std::vector<std::function<void()>> m_due;
};

TEST_F(PlacementSaving, ADragWritesOnceWithItsLastFrame)
{
    for (int step = 1; step <= 10; ++step)
        m_saver->onConfigure(100 + step, 50 + step, 1000, 700);
    EXPECT_FALSE(written()) << "nothing is written before the delay";
    ASSERT_EQ(1u, m_due.size());
    runDueSaves();
    EXPECT_EQ((Saved{60, 110, 1000, 700, false}), takeSaved());
    m_saver->flush();
    EXPECT_FALSE(written()) << "a flush after the save has nothing left to write";
}

TEST_F(PlacementSaving, AChangeAfterASaveArmsTheNextOne)
{
    m_saver->onConfigure(1, 2, 900, 650);
    runDueSaves();
    EXPECT_EQ((Saved{2, 1, 900, 650, false}), takeSaved());
    m_saver->onConfigure(3, 4, 900, 650);
    ASSERT_EQ(1u, m_due.size());
    runDueSaves();
    EXPECT_EQ((Saved{4, 3, 900, 650, false}), takeSaved());
}

TEST_F(PlacementSaving, AMaximisedWindowSavesTheFlagButKeepsTheNormalFrame)
{
    m_saver->onConfigure(30, 40, 1000, 700);
    m_saver->onStateChanged(true, false);
    m_saver->onConfigure(0, 0, 1920, 1040);
    runDueSaves();
    EXPECT_EQ((Saved{40, 30, 1000, 700, true}), takeSaved());

    m_saver->onStateChanged(true, true);
    m_saver->onConfigure(0, 0, 160, 30);
    m_saver->onStateChanged(false, false);
    m_saver->onConfigure(30, 40, 1000, 700);
    runDueSaves();
    EXPECT_EQ((Saved{40, 30, 1000, 700, false}), takeSaved());
}

TEST_F(PlacementSaving, AMinimisedWindowsFrameIsNotSaved)
{
    m_saver->onStateChanged(false, true);
    m_saver->onConfigure(-32000, -32000, 160, 30);
    m_saver->flush();
    runDueSaves();
    EXPECT_FALSE(written());
}

TEST_F(PlacementSaving, ClosingWritesWhatIsPendingOnce)
{
    m_saver->onConfigure(5, 6, 1024, 768);
    m_saver->onStateChanged(true, false);
    m_saver->flush();
    EXPECT_EQ((Saved{6, 5, 1024, 768, true}), takeSaved());
    m_saver->flush();
    runDueSaves();
    EXPECT_FALSE(written()) << "the armed save finds nothing left";
}

TEST_F(PlacementSaving, EventsThatChangeNothingWriteNothing)
{
    m_saver->onConfigure(20, 10, 800, 600);
    m_saver->onStateChanged(false, false);
    EXPECT_TRUE(m_due.empty());
    m_saver->flush();
    EXPECT_FALSE(written());
}

// A catcher reports size and position apart, and the maximised flag with the size.
TEST_F(PlacementSaving, ACatchersReportsKeepTheSameRules)
{
    m_saver->onWindowMoved(70, 110);
    m_saver->onWindowResized(640, 480, false);
    m_saver->onWindowResized(1920, 1040, true);
    m_saver->onWindowMoved(0, 0);
    ASSERT_EQ(1u, m_due.size());
    runDueSaves();
    EXPECT_EQ((Saved{70, 110, 640, 480, true}), takeSaved());

    m_saver->onWindowResized(1920, 1040, false);
    m_saver->onWindowResized(640, 480, false);
    m_saver->flush();
    EXPECT_EQ((Saved{70, 110, 640, 480, false}), takeSaved()) << "a move seen while maximised does not count";
}

TEST_F(PlacementSaving, ASaveDueAfterTheSaverIsGoneDoesNothing)
{
    m_saver->onConfigure(1, 1, 900, 700);
    m_saver.reset();
    runDueSaves();
    EXPECT_FALSE(written());
}

} // namespace
