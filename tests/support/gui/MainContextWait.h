#pragma once

#include <glib.h>

#include <chrono>
#include <functional>

namespace fv_test {

// Runs `context` (null: the thread's default one, where this thread's bus callbacks, GTK events
// and GIO's child reaping are dispatched) until `done` answers true (true) or the deadline has
// passed (false). `done` is asked after every round, once more at the deadline.
bool runContextUntil(GMainContext* context, const std::function<bool()>& done,
                     std::chrono::milliseconds deadline = std::chrono::seconds(20));

inline bool runMainContextUntil(const std::function<bool()>& done,
                                std::chrono::milliseconds deadline = std::chrono::seconds(20))
{
    return runContextUntil(nullptr, done, deadline);
}

// Runs whatever `context` has ready now.
void runReady(GMainContext* context);

} // namespace fv_test
