#include "support/service/RequestLog.h"

#include <algorithm>
#include <map>
#include <set>

namespace fv_test {

std::vector<LoggedRequest> RequestLog::all() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

std::vector<LoggedRequest> RequestLog::forPath(const std::string& path, const std::string& method) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<LoggedRequest> matching;
    std::copy_if(m_requests.begin(), m_requests.end(), std::back_inserter(matching), [&](const LoggedRequest& request) {
        return request.path == path && (method.empty() || request.method == method);
    });
    return matching;
}

size_t RequestLog::size() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests.size();
}

size_t RequestLog::connectionCount(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::set<uint64_t> connections;
    for (const LoggedRequest& request : m_requests) {
        if (request.path == path)
            connections.insert(request.connectionId);
    }
    return connections.size();
}

size_t RequestLog::connectionsAccepted() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connections;
}

bool RequestLog::waitForRequests(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_requests.size() >= count; });
}

bool RequestLog::waitForBodyBytes(const std::string& path, uint64_t bytes, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        return std::any_of(m_requests.begin(), m_requests.end(), [&](const LoggedRequest& request) {
            return request.path == path && request.bodyBytes >= bytes;
        });
    });
}

size_t RequestLog::maxInFlight(const std::string& prefix, const std::string& method) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::map<uint64_t, int> changes; // event -> +1 opened, -1 finished
    for (const LoggedRequest& request : m_requests) {
        if (request.path.compare(0, prefix.size(), prefix) != 0 || (!method.empty() && request.method != method))
            continue;
        changes[request.openedAt] = 1;
        if (request.finishedAt != 0)
            changes[request.finishedAt] = -1;
    }
    int open = 0;
    int most = 0;
    for (const auto& change : changes) {
        open += change.second;
        most = std::max(most, open);
    }
    return static_cast<size_t>(most);
}

void RequestLog::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cleared += m_requests.size();
    m_requests.clear();
    m_connections = 0;
}

size_t RequestLog::begin(LoggedRequest request)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    request.openedAt = ++m_events;
    request.finishedAt = 0;
    m_requests.push_back(std::move(request));
    m_changed.notify_all();
    return m_cleared + m_requests.size() - 1;
}

void RequestLog::appendBody(size_t index, const char* data, size_t size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (index < m_cleared || index - m_cleared >= m_requests.size())
        return;
    LoggedRequest& request = m_requests[index - m_cleared];
    request.bodyBytes += size;
    const size_t room = m_captureLimit > request.body.size() ? m_captureLimit - request.body.size() : 0;
    request.body.append(data, std::min(room, size));
    m_changed.notify_all();
}

void RequestLog::finish(size_t index)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (index < m_cleared || index - m_cleared >= m_requests.size())
        return;
    LoggedRequest& request = m_requests[index - m_cleared];
    if (request.finishedAt == 0)
        request.finishedAt = ++m_events;
}

void RequestLog::noteConnection()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_connections;
}

} // namespace fv_test
