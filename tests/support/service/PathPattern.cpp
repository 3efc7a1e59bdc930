#include "support/service/PathPattern.h"

namespace fv_test {

std::vector<std::string> splitPath(const std::string& path)
{
    std::vector<std::string> segments;
    size_t start = path.empty() || path[0] != '/' ? 0 : 1;
    while (start <= path.size()) {
        const size_t end = path.find('/', start);
        if (end == std::string::npos) {
            segments.push_back(path.substr(start));
            break;
        }
        segments.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return segments;
}

PathPattern::PathPattern(const std::string& pattern) : m_text(pattern)
{
    if (pattern == "*") {
        m_any = true;
        return;
    }
    m_segments = splitPath(pattern);
    if (!m_segments.empty() && m_segments.back() == "*") {
        m_rest = true;
        m_segments.pop_back();
    }
}

bool PathPattern::match(const std::string& path, RouteParams* params) const
{
    if (m_any)
        return true;
    const std::vector<std::string> segments = splitPath(path);
    if (m_rest ? segments.size() <= m_segments.size() : segments.size() != m_segments.size())
        return false;
    RouteParams captured;
    for (size_t i = 0; i < m_segments.size(); ++i) {
        const std::string& expected = m_segments[i];
        if (expected.size() > 2 && expected.front() == '{' && expected.back() == '}') {
            if (segments[i].empty())
                return false;
            captured[expected.substr(1, expected.size() - 2)] = segments[i];
        } else if (expected != segments[i]) {
            return false;
        }
    }
    if (m_rest) {
        std::string rest;
        for (size_t i = m_segments.size(); i < segments.size(); ++i)
            rest += (rest.empty() && i == m_segments.size() ? "" : "/") + segments[i];
        captured["*"] = rest;
    }
    if (params)
        *params = std::move(captured);
    return true;
}

} // namespace fv_test
