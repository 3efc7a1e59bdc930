#include "support/service/PageReports.h"

#include <algorithm>

namespace fv_test {

void PageReports::add(Json::Value report)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reports.push_back(std::move(report));
    }
    m_changed.notify_all();
}

std::vector<Json::Value> PageReports::all() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reports;
}

std::optional<Json::Value> PageReports::waitFor(const Predicate& predicate, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    std::optional<Json::Value> found;
    // Reports only ever get appended, so each wake-up needs to look at the new ones alone.
    size_t checked = 0;
    m_changed.wait_for(lock, timeout, [&] {
        const auto it = std::find_if(m_reports.begin() + static_cast<std::ptrdiff_t>(checked), m_reports.end(),
                                     std::cref(predicate));
        checked = m_reports.size();
        if (it != m_reports.end())
            found = *it;
        return found.has_value();
    });
    return found;
}

} // namespace fv_test
