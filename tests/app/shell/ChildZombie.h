#pragma once

#include <sys/types.h>
#include <sys/wait.h>

namespace fv_test {

// True while the child `pid` is a zombie: it has exited, but nobody has reaped it yet.
inline bool isUnreapedZombie(pid_t pid)
{
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

// Waits until the child `pid` has exited, leaving it unreaped. No limit of its own: the
// caller's watchdog bounds it.
inline void awaitZombie(pid_t pid)
{
    siginfo_t info{};
    ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
}

} // namespace fv_test
