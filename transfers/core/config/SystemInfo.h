#pragma once

#include <string>

namespace fv_transfers {

// Module version and the OS names, read once.
class CSystemInfo {
public:
    // A process-lifetime object, read on first use.
    static const CSystemInfo& getInstance();

    const std::string& getModuleVersion() const { return m_moduleVersion; }
    // PRETTY_NAME of /etc/os-release, else "<sysname> <release>".
    const std::string& getOsProductName() const { return m_osProductName; }
    // "Linux " + kernel release.
    const std::string& getOsVersionText() const { return m_osVersionText; }

    // Reads PRETTY_NAME from an os-release file; empty when absent.
    static std::string readPrettyName(const std::string& osReleasePath);

private:
    CSystemInfo();

    std::string m_moduleVersion;
    std::string m_osProductName;
    std::string m_osVersionText;
};

} // namespace fv_transfers
