#include "support/gui/MainContextWait.h"

#include <thread>

namespace fv_test {

bool runContextUntil(GMainContext* context, const std::function<bool()>& done, std::chrono::milliseconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        runReady(context);
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void runReady(GMainContext* context)
{
    while (g_main_context_iteration(context, FALSE)) {
    }
}

} // namespace fv_test
