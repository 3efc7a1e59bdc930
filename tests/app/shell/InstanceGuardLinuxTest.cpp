#include "app/shell/LogFileTestSupport.h"
#include "support/fixtures/ChildProcess.h"
#include "support/fixtures/EventRecorder.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"

#include "shell/InstanceGuard.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <string>
#include <fcntl.h>
#include <unistd.h>

using ferrovan::createInstanceGuard;
using ferrovan::InstanceGuardState;
using namespace std::chrono_literals;

namespace {

// The flags of this process's descriptor open on `path`; -1 when none is.
int descriptorFlagsOf(const std::string& path)
{
    for (int fd = 0; fd < 1024; ++fd) {
        char target[PATH_MAX];
        const ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof(target) - 1);
        if (length > 0 && std::string(target, static_cast<std::size_t>(length)) == path)
            return ::fcntl(fd, F_GETFD);
    }
    return -1;
}

} // namespace

TEST(InstanceGuardLinux, OneHolderPerDataFolderUntilItEnds)
{
    fv_test::TempDir data;
    fv_test::TempDir elsewhere;
    auto first = createInstanceGuard(data.path());
    ASSERT_EQ(InstanceGuardState::Held, first->acquire());
    EXPECT_EQ(InstanceGuardState::Held, first->acquire());

    EXPECT_EQ(InstanceGuardState::HeldByAnother, createInstanceGuard(data.path() + "/")->acquire());
    EXPECT_EQ(InstanceGuardState::Held, createInstanceGuard(elsewhere.path())->acquire());

    first.reset();
    EXPECT_EQ(InstanceGuardState::Held, createInstanceGuard(data.path())->acquire());
}

TEST(InstanceGuardLinux, TheLockIsPrivateAndNotHandedToStartedPrograms)
{
    fv_test::TempDir data;
    auto guard = createInstanceGuard(data.path());
    ASSERT_EQ(InstanceGuardState::Held, guard->acquire());

    EXPECT_EQ(0600, fv_test::modeOf(data.file("instance.lock")));
    const int flags = descriptorFlagsOf(data.file("instance.lock"));
    ASSERT_NE(-1, flags);
    EXPECT_NE(0, flags & FD_CLOEXEC);
}

// The lock of a process that dies, however, is the kernel's to drop: no stale file keeps the
// next start out.
TEST(InstanceGuardLinux, AKilledHolderLeavesTheGuardFree)
{
    fv_test::Watchdog watchdog("killed holder", 60s);
    fv_test::TempDir data;
    // One process, so that the kill ends every holder of the descriptor.
    fv_test::ChildProcess holder("/usr/bin/python3",
                                 {"-c",
                                  "import fcntl, os, sys, time\n"
                                  "fcntl.flock(os.open(sys.argv[1], os.O_RDWR | os.O_CREAT), fcntl.LOCK_EX)\n"
                                  "time.sleep(100)\n",
                                  data.file("instance.lock")});
    ASSERT_TRUE(fv_test::waitUntil(
        [&] { return createInstanceGuard(data.path())->acquire() == InstanceGuardState::HeldByAnother; }, 30000));

    holder.signal(SIGKILL);
    ASSERT_TRUE(holder.waitExit(30s).has_value());

    EXPECT_EQ(InstanceGuardState::Held, createInstanceGuard(data.path())->acquire());
}

TEST(InstanceGuardLinux, AFolderWithoutRoomForTheLockLeavesItUnavailableWithTheReason)
{
    fv_test::TempDir data;
    auto guard = createInstanceGuard(data.file("missing"));

    EXPECT_EQ(InstanceGuardState::Unavailable, guard->acquire());
    EXPECT_NE(std::string::npos, guard->getError().find(data.file("missing/instance.lock"))) << guard->getError();
}
