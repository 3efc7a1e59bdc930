#include "core/system/linux/SystemResourceStatusLinux.h"

#include <Poco/NumberParser.h>
#include <Poco/String.h>

#include <algorithm>
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

std::string readText(const std::string& path, bool& found)
{
    std::ifstream in(path);
    found = in.is_open();
    std::ostringstream text;
    if (found)
        text << in.rdbuf();
    return text.str();
}

bool readNumber(const std::string& path, std::uint64_t& value)
{
    bool found = false;
    const std::string text = Poco::trim(readText(path, found));
    Poco::UInt64 number = 0;
    if (!found || !Poco::NumberParser::tryParseUnsigned64(text, number))
        return false; // missing, or "max"
    value = number;
    return true;
}

// Version 1 keeps the memory controller in a hierarchy of its own; version 2 has one for all.
struct CgroupMemoryFiles {
    std::string folder;
    const char* limit;
    const char* usage;
};

bool findMemoryCgroup(const std::string& procCgroup, const std::string& mount, CgroupMemoryFiles& files)
{
    std::istringstream lines(procCgroup);
    std::string line;
    bool found = false;
    while (std::getline(lines, line)) {
        const auto first = line.find(':');
        const auto second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos)
            continue;
        const std::string controllers = "," + line.substr(first + 1, second - first - 1) + ",";
        const std::string path = line.substr(second + 1);
        if (controllers.find(",memory,") != std::string::npos) {
            files = CgroupMemoryFiles{mount + "/memory" + path, "memory.limit_in_bytes", "memory.usage_in_bytes"};
            return true;
        }
        if (line.compare(0, 3, "0::") == 0) {
            files = CgroupMemoryFiles{mount + path, "memory.max", "memory.current"};
            found = true;
        }
    }
    return found;
}

} // namespace

CSystemResourceStatusLinux::CSystemResourceStatusLinux(std::string meminfoPath, std::string procCgroupPath,
                                                       std::string cgroupMount)
    : m_meminfoPath(std::move(meminfoPath)), m_procCgroupPath(std::move(procCgroupPath)),
      m_cgroupMount(std::move(cgroupMount))
{
}

bool CSystemResourceStatusLinux::getAvailableMemory(std::uint64_t& bytes)
{
    bool found = false;
    const std::string meminfo = readText(m_meminfoPath, found);
    std::uint64_t available = 0;
    if (!(found && parseMemAvailable(meminfo, available)) && !sysinfoAvailableMemory(available))
        return false;
    std::uint64_t headroom = 0;
    if (cgroupHeadroom(headroom))
        available = std::min(available, headroom);
    bytes = available;
    return true;
}

bool CSystemResourceStatusLinux::cgroupHeadroom(std::uint64_t& bytes) const
{
    bool found = false;
    CgroupMemoryFiles files;
    if (!findMemoryCgroup(readText(m_procCgroupPath, found), m_cgroupMount, files))
        return false;
    // v1 writes "no limit" as a huge page-aligned number.
    const std::uint64_t unlimited = std::uint64_t(1) << 62;
    bool limited = false;
    std::string folder = files.folder;
    for (;;) {
        std::uint64_t limit = 0;
        std::uint64_t usage = 0;
        if (readNumber(folder + "/" + files.limit, limit) && limit < unlimited &&
            readNumber(folder + "/" + files.usage, usage)) {
            const std::uint64_t left = limit > usage ? limit - usage : 0;
            bytes = limited ? std::min(bytes, left) : left;
            limited = true;
        }
        // Up to the mount point; a group hidden by a namespace is simply not found on the way.
        const auto slash = folder.find_last_of('/');
        if (folder.size() <= m_cgroupMount.size() || slash == std::string::npos || slash < m_cgroupMount.size())
            break;
        folder.resize(slash);
    }
    return limited;
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
