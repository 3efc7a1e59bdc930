#include "shell/VersionNumber.h"

#include <algorithm>

namespace ferrovan {

namespace {

bool isDigits(const std::string& part)
{
    return !part.empty() && std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int compareNumbers(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

} // namespace

std::optional<VersionNumber> VersionNumber::parse(const std::string& text)
{
    VersionNumber version;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = text.find('.', start);
        const std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (!isDigits(part))
            return std::nullopt;
        version.m_parts.push_back(part.substr(std::min(part.find_first_not_of('0'), part.size())));
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    while (!version.m_parts.empty() && version.m_parts.back().empty())
        version.m_parts.pop_back();
    return version;
}

int VersionNumber::compare(const VersionNumber& other) const
{
    const std::size_t count = std::max(m_parts.size(), other.m_parts.size());
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& mine = i < m_parts.size() ? m_parts[i] : std::string();
        const std::string& theirs = i < other.m_parts.size() ? other.m_parts[i] : std::string();
        const int order = compareNumbers(mine, theirs);
        if (order != 0)
            return order < 0 ? -1 : 1;
    }
    return 0;
}

} // namespace ferrovan
