#pragma once

#include <json/json.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace fv_test {

// What the test page reported, in order of arrival: one JSON object per call,
// {"call": name, "args": [...]}. Route threads add, tests read and wait.
class PageReports {
public:
    using Predicate = std::function<bool(const Json::Value& report)>;

    void add(Json::Value report);
    std::vector<Json::Value> all() const;
    // The first report (already there or arriving before the deadline) that satisfies
    // `predicate`; nothing when none did in time.
    std::optional<Json::Value> waitFor(const Predicate& predicate, std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<Json::Value> m_reports;
};

} // namespace fv_test
