#include "app/shell/FerrovanProgram.h"
#include "app/shell/RecordingHandOffTarget.h"
#include "support/fixtures/Watchdog.h"
#include "support/gui/MainContextWait.h"

#include "shell/AppController.h"
#include "shell/FileDescriptor.h"
#include "shell/HandOffHub.h"
#include "shell/OstrelController.h"
#include "shell/linux/HandoffServiceLinux.h"

#include <Poco/DirectoryIterator.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <Poco/File.h>
#include <gtest/gtest.h>

#include <csignal>
#include <set>
#include <string>
#include <thread>
#include <vector>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace fv_test;
using namespace std::chrono_literals;

namespace {

const char* const kActivated = "CHandoffServiceLinux::onMethodCall: ActivateApp";
const char* const kAnotherSession = "Ferrovan is already running in another session.";

// Asks each shown toplevel of process `pid` to close, as a window manager does when the user
// closes it; how many were asked.
int closeWindowsOf(pid_t pid)
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return 0;
    const Atom pidProperty = XInternAtom(display, "_NET_WM_PID", False);
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    int asked = 0;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) != 0) {
        for (unsigned int i = 0; i < count; ++i) {
            Atom type = None;
            int format = 0;
            unsigned long items = 0, after = 0;
            unsigned char* data = nullptr;
            XWindowAttributes attributes{};
            const bool ours = XGetWindowProperty(display, children[i], pidProperty, 0, 1, False, XA_CARDINAL, &type,
                                                 &format, &items, &after, &data) == Success &&
                              data != nullptr && items == 1 &&
                              *reinterpret_cast<unsigned long*>(data) == static_cast<unsigned long>(pid);
            if (data != nullptr)
                XFree(data);
            if (!ours || XGetWindowAttributes(display, children[i], &attributes) == 0 ||
                attributes.map_state != IsViewable)
                continue;
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = children[i];
            event.xclient.message_type = protocols;
            event.xclient.format = 32;
            event.xclient.data.l[0] = static_cast<long>(deleteWindow);
            event.xclient.data.l[1] = CurrentTime;
            XSendEvent(display, children[i], False, NoEventMask, &event);
            ++asked;
        }
        if (children != nullptr)
            XFree(children);
    }
    XCloseDisplay(display);
    return asked;
}

// Starts of the program over one data folder, on the session wrapper's private bus unless a
// case says otherwise.
class SingleInstanceProgramTest : public FerrovanProgram {
protected:
    std::set<std::string> namesInFolder() const
    {
        std::set<std::string> names;
        for (Poco::DirectoryIterator it(folder()), end; it != end; ++it)
            names.insert(it.name());
        return names;
    }
    // A primary, once it has said so in its log.
    std::unique_ptr<ChildProcess> startPrimary(ChildProcess::Environment environment = {})
    {
        const int before = countInLog(kStartingBanner);
        auto primary = start({}, std::move(environment));
        EXPECT_TRUE(waitUntil([&] { return countInLog(kStartingBanner) > before; }, 60000));
        return primary;
    }
    // A start that cannot reach the running instance tells so on stderr and, on a display, in a
    // box that stands until the user closes it; then it ends.
    void expectUnreachable(ChildProcess::Environment environment, bool onDisplay)
    {
        if (!onDisplay)
            environment.emplace("DISPLAY", std::nullopt);
        const std::string output = m_outputs.file("second.txt");
        auto second = start({}, std::move(environment), output);
        if (onDisplay) {
            EXPECT_TRUE(waitUntil([&] { return closeWindowsOf(second->pid()) > 0; }, 60000));
        }
        EXPECT_EQ(3, second->waitExit(60s));
        EXPECT_NE(std::string::npos, readFile(output).find(kAnotherSession)) << readFile(output);
        EXPECT_EQ(1, countInLog(kStartingBanner));
    }

    TempDir m_outputs;
};

} // namespace

TEST_F(SingleInstanceProgramTest, ASecondStartBringsTheFirstForwardAndLeavesTheDataAlone)
{
    Watchdog watchdog("second start", 110s);
    writeFile(file("fv_app.log.0"), "an older log");
    auto first = startPrimary();
    // Answered only from the first's loop, so the files its start makes are there by then.
    ASSERT_EQ(0, start({})->waitExit(60s));
    const std::set<std::string> names = namesInFolder();

    auto second = start({"--reset-logs"});

    EXPECT_EQ(0, second->waitExit(60s));
    EXPECT_EQ(2, countInLog(kActivated));
    EXPECT_EQ(1, countInLog(kStartingBanner));
    EXPECT_EQ(names, namesInFolder());
    EXPECT_TRUE(first->isRunning());
}

TEST_F(SingleInstanceProgramTest, OfTwentyStartsAtOnceExactlyOneRuns)
{
    Watchdog watchdog("twenty starts", 115s);
    std::vector<std::unique_ptr<ChildProcess>> starts;
    for (int i = 0; i < 20; ++i)
        starts.push_back(start({}));

    std::vector<std::optional<int>> exits(starts.size());
    const auto ended = [&] {
        int count = 0;
        for (std::size_t i = 0; i < starts.size(); ++i) {
            if (!exits[i])
                exits[i] = starts[i]->waitExit(0ms);
            count += exits[i] ? 1 : 0;
        }
        return count;
    };
    ASSERT_TRUE(waitUntil([&] { return ended() >= 19; }, 100000));

    EXPECT_EQ(19, ended());
    for (const std::optional<int>& exit : exits)
        EXPECT_TRUE(!exit || *exit == 0);
    EXPECT_EQ(1, countInLog(kStartingBanner));
    EXPECT_EQ(19, countInLog(kActivated));
}

TEST_F(SingleInstanceProgramTest, AfterTheRunningOneIsKilledTheNextStartRuns)
{
    Watchdog watchdog("start after a kill", 110s);
    auto first = startPrimary();
    first->signal(SIGKILL);
    ASSERT_TRUE(first->waitExit(30s).has_value());

    auto next = startPrimary();
    EXPECT_EQ(2, countInLog(kStartingBanner));
    EXPECT_TRUE(next->isRunning());
    EXPECT_EQ(0, start({})->waitExit(60s));
    EXPECT_EQ(1, countInLog(kActivated));
}

// A restart whose wait for the old process ran out, while an instance runs, must not remove the
// running instance's files: it hands over instead.
TEST_F(SingleInstanceProgramTest, ARestartThatFindsTheGuardStillHeldHandsOverAndRemovesNothing)
{
    Watchdog watchdog("restart finding the guard held", 115s);
    const std::vector<std::string> kept{"fv_app.log.0", "browser.log", "fv_transfers.log"};
    for (const std::string& name : kept)
        writeFile(file(name), name);
    auto first = startPrimary();
    ChildProcess outlivesTheWait("/bin/sleep", {"100"});

    auto restart = start({"--reset-logs", "--wait-for-pid", std::to_string(outlivesTheWait.pid())});

    EXPECT_EQ(0, restart->waitExit(100s));
    for (const std::string& name : kept)
        EXPECT_TRUE(Poco::File(file(name)).exists()) << name;
    EXPECT_EQ(1, countInLog(kActivated));
    EXPECT_EQ(1, countInLog(kStartingBanner));
}

// The running instance may hold the guard a while before it owns its name on the bus.
TEST_F(SingleInstanceProgramTest, ANameOwnedLateStillGetsTheHandOver)
{
    Watchdog watchdog("late owner", 110s);
    ferrovan::FileDescriptor lock(::open(file("instance.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    ASSERT_EQ(0, ::flock(lock.get(), LOCK_EX | LOCK_NB));
    RecordingHandOffTarget target;
    ferrovan::HandOffHub hub;
    ferrovan::OstrelController controller(hub, new ferrovan::AppController(target, nullptr));
    controller.registerHandler();
    hub.mainWindowShown();

    auto second = start({});
    // Not a bound on anything: the start asks again for longer than this.
    std::this_thread::sleep_for(1500ms);
    ferrovan::CHandoffServiceLinux service(hub);
    ASSERT_TRUE(service.start(nullptr));

    std::optional<int> exit;
    ASSERT_TRUE(runMainContextUntil([&] { return (exit = second->waitExit(0ms)).has_value(); }, 60s));
    EXPECT_EQ(0, exit);
    EXPECT_EQ(std::vector<std::string>{"activate"}, target.events);
}

TEST_F(SingleInstanceProgramTest, AnInstanceOnAnotherBusIsNeverJoinedButReported)
{
    Watchdog watchdog("another session", 110s);
    const std::string address = "unix:path=" + m_outputs.file("other-bus");
    ChildProcess otherBus("/usr/bin/dbus-daemon", {"--session", "--nofork", "--address=" + address});
    ASSERT_TRUE(waitUntil([&] { return Poco::File(m_outputs.file("other-bus")).exists(); }, 30000));
    auto first = startPrimary({{"DBUS_SESSION_BUS_ADDRESS", address}});

    expectUnreachable({}, true);
    EXPECT_EQ(0, countInLog(kActivated));
}

TEST_F(SingleInstanceProgramTest, WithoutABusTheGuardStillHoldsAndTheSecondStartEnds)
{
    Watchdog watchdog("no bus", 110s);
    auto first = startPrimary({{"DBUS_SESSION_BUS_ADDRESS", "disabled:"}});

    expectUnreachable({{"DBUS_SESSION_BUS_ADDRESS", "disabled:"}}, false);
    EXPECT_EQ(1, countInLog("No session bus: the hand-off is off"));
    EXPECT_TRUE(waitForLog("Failed to initialize context menu controller, context menu items may not be working!"));
    EXPECT_TRUE(first->isRunning());
}

// Root may open any file: the program then runs as nobody, who owns the folder but not the lock.
TEST_F(SingleInstanceProgramTest, ALockThatCannotBeOpenedLeavesTheProgramRunningWithoutTheGuard)
{
    Watchdog watchdog("lock out of reach", 110s);
    const bool asRoot = ::geteuid() == 0;
    writeFile(file("instance.lock"), "");
    if (asRoot) {
        const passwd* nobody = ::getpwnam("nobody");
        ASSERT_NE(nullptr, nobody);
        ASSERT_EQ(0, ::chmod(dataHome().c_str(), 0755));
        ASSERT_EQ(0, ::chown(folder().c_str(), nobody->pw_uid, static_cast<gid_t>(-1)));
        ASSERT_EQ(0, ::chmod(file("instance.lock").c_str(), 0600));
    } else {
        ASSERT_EQ(0, ::chmod(file("instance.lock").c_str(), 0400));
    }
    const ChildProcess::Environment noDesktop{{"DISPLAY", std::nullopt}, {"DBUS_SESSION_BUS_ADDRESS", "disabled:"}};
    const std::vector<std::string> asNobody{"--reuid=nobody", "--regid=nogroup", "--clear-groups", FV_PROGRAM};
    auto program = asRoot ? start(asNobody, noDesktop, std::string(), "/usr/bin/setpriv") : start({}, noDesktop);

    // Without a display it ends, after the whole run.
    EXPECT_EQ(2, program->waitExit(60s));
    EXPECT_EQ(1, countInLog("Failed to create global mutex, guard against multiple app instances will not work!"))
        << log();
    EXPECT_EQ(1, countInLog(kStartingBanner));
    EXPECT_EQ(1, countInLog(kExitingBanner));
}
