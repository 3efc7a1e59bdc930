#include "core/files/PathUnderBase.h"

namespace fv_transfers {

namespace {

bool isClimbingOrEmptySegment(const std::string& segment)
{
    return segment.empty() || segment == "." || segment == "..";
}

bool isPlainRelative(const std::string& relative)
{
    if (relative.empty() || relative.front() == '/' || relative.find('\0') != std::string::npos)
        return false;
    size_t pos = 0;
    while (pos < relative.size()) {
        size_t end = relative.find('/', pos);
        if (end == std::string::npos)
            end = relative.size();
        if (isClimbingOrEmptySegment(relative.substr(pos, end - pos)))
            return false;
        pos = end + 1; // a single trailing "/" (a folder) ends the loop here
    }
    return true;
}

} // namespace

bool joinUnderBase(const std::string& base, const std::string& relative, std::string& out)
{
    if (base.empty() || base.find('\0') != std::string::npos || !isPlainRelative(relative))
        return false;
    std::string joined = base;
    if (joined.back() != '/')
        joined += '/';
    joined += relative;
    out.swap(joined);
    return true;
}

} // namespace fv_transfers
