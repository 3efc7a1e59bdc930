#include "support/service/RouteTable.h"

namespace fv_test {

void RouteTable::add(const std::string& method, const std::string& pattern, RouteHandler handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes.push_back(Route{method, PathPattern(pattern), std::move(handler)});
}

std::optional<RouteTable::Match> RouteTable::find(const std::string& method, const std::string& path) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_routes.rbegin(); it != m_routes.rend(); ++it) {
        RouteParams params;
        if (it->method == method && it->pattern.match(path, &params))
            return Match{it->handler, std::move(params)};
    }
    return std::nullopt;
}

bool RouteTable::knowsPath(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Route& route : m_routes) {
        if (route.pattern.match(path))
            return true;
    }
    return false;
}

} // namespace fv_test
