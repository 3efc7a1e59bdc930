#include "core/config/SystemInfo.h"

#include "FvVersion.h"

#include <Poco/String.h>

#include <fstream>
#include <utility>

namespace fv_transfers {

const CSystemInfo& CSystemInfo::getInstance()
{
    static const CSystemInfo instance;
    return instance;
}

CSystemInfo::CSystemInfo() : m_moduleVersion(FV_VERSION_STRING)
{
    KernelNames kernel = readKernelNames();
    m_osVersionText = std::move(kernel.versionText);
    m_osProductName = readPrettyName("/etc/os-release");
    if (m_osProductName.empty())
        m_osProductName = std::move(kernel.productName);
}

std::string CSystemInfo::readPrettyName(const std::string& osReleasePath)
{
    std::ifstream in(osReleasePath);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 12, "PRETTY_NAME=") != 0)
            continue;
        std::string value = Poco::trim(line.substr(12));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return value;
    }
    return std::string();
}

} // namespace fv_transfers
