#include "support/gui/MainContextWait.h"

#include <glib.h>

#include <thread>

namespace fv_test {

bool runMainContextUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace fv_test
