#include "bridge/LocalPath.h"

#include <algorithm>

namespace ferrovan {

std::string normalisedAbsolutePath(const std::string& path)
{
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos)
        return {};
    std::string result;
    std::string::size_type begin = 1;
    while (begin <= path.size()) {
        const std::string::size_type end = std::min(path.find('/', begin), path.size());
        const std::string segment = path.substr(begin, end - begin);
        if (segment == "." || segment == "..")
            return {};
        if (!segment.empty())
            result += "/" + segment;
        begin = end + 1;
    }
    return result.empty() ? "/" : result;
}

} // namespace ferrovan
