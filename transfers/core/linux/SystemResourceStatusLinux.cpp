#include "core/linux/SystemResourceStatusLinux.h"

#include <Poco/NumberParser.h>
#include <Poco/String.h>

#include <fstream>
#include <limits>
#include <sstream>
#include <sys/sysinfo.h>

namespace fv_transfers {

namespace {

bool sysinfoAvailableMemory(std::uint64_t& bytes)
{
    struct sysinfo info {};
    if (::sysinfo(&info) != 0)
        return false;
    bytes = (static_cast<std::uint64_t>(info.freeram) + info.bufferram) * info.mem_unit;
    return true;
}

} // namespace

CSystemResourceStatusLinux::CSystemResourceStatusLinux(std::string meminfoPath)
    : m_meminfoPath(std::move(meminfoPath))
{
}

bool CSystemResourceStatusLinux::getAvailableMemory(std::uint64_t& bytes)
{
    std::ifstream in(m_meminfoPath);
    std::ostringstream text;
    text << in.rdbuf();
    if (in.is_open() && parseMemAvailable(text.str(), bytes))
        return true;
    return sysinfoAvailableMemory(bytes);
}

bool CSystemResourceStatusLinux::parseMemAvailable(const std::string& meminfo, std::uint64_t& bytes)
{
    static const std::string kKey = "MemAvailable:";
    std::istringstream lines(meminfo);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, kKey.size(), kKey) != 0)
            continue;
        std::string value = Poco::trim(line.substr(kKey.size()));
        if (value.size() > 3 && value.compare(value.size() - 3, 3, " kB") == 0)
            value = Poco::trimRight(value.substr(0, value.size() - 3));
        Poco::UInt64 kilobytes = 0;
        if (!Poco::NumberParser::tryParseUnsigned64(value, kilobytes) ||
            kilobytes > std::numeric_limits<std::uint64_t>::max() / 1024)
            return false;
        bytes = kilobytes * 1024;
        return true;
    }
    return false;
}

} // namespace fv_transfers
