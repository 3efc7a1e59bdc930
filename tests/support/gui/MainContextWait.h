#pragma once

#include <chrono>
#include <functional>

namespace fv_test {

// Runs the thread's default main context, where this thread's bus callbacks, GTK events and
// GIO's child reaping are dispatched, until `done` answers true (true) or the deadline has
// passed (false). `done` is asked after every round, once more at the deadline.
bool runMainContextUntil(const std::function<bool()>& done,
                         std::chrono::milliseconds deadline = std::chrono::seconds(20));

} // namespace fv_test
