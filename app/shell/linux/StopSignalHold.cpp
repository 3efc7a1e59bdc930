#include "shell/linux/StopSignalHold.h"

#include <csignal>
#include <pthread.h>
#include <unistd.h>

namespace ferrovan {

namespace {

volatile std::sig_atomic_t g_keptTerm = 0;
volatile std::sig_atomic_t g_keptInt = 0;

void keepStop(int signal)
{
    if (signal == SIGTERM)
        g_keptTerm = 1;
    else
        g_keptInt = 1;
}

} // namespace

void holdStopSignals()
{
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);

    struct sigaction keep {};
    keep.sa_handler = keepStop;
    sigemptyset(&keep.sa_mask);
    keep.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &keep, nullptr);
    sigaction(SIGINT, &keep, nullptr);
}

void replayHeldStopSignals()
{
    if (g_keptTerm != 0) {
        g_keptTerm = 0;
        kill(getpid(), SIGTERM);
    }
    if (g_keptInt != 0) {
        g_keptInt = 0;
        kill(getpid(), SIGINT);
    }
}

} // namespace ferrovan
