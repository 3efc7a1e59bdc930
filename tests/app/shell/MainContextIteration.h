#pragma once

#include <glib.h>

#include <chrono>
#include <functional>

namespace fv_test {

// Iterates `context` (null: the default one) on the calling thread, as the UI thread's loop
// would, until `condition` holds; false when it did not by the deadline.
inline bool iterateUntil(GMainContext* context, const std::function<bool()>& condition,
                         std::chrono::milliseconds deadline = std::chrono::seconds(20))
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (true) {
        while (g_main_context_iteration(context, FALSE)) {
        }
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        g_usleep(1000);
    }
}

// Runs whatever `context` has ready now.
inline void iterateReady(GMainContext* context)
{
    while (g_main_context_iteration(context, FALSE)) {
    }
}

} // namespace fv_test
