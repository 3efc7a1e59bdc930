#pragma once

#include <string>

namespace fv_transfers {

// Module version and the OS names, read once.
class CSystemInfo {
public:
    // A process-lifetime object, read on first use.
    static const CSystemInfo& getInstance();

    const std::string& getModuleVersion() const { return m_moduleVersion; }
    // PRETTY_NAME of /etc/os-release, else the kernel's name and release.
    const std::string& getOsProductName() const { return m_osProductName; }
    // The kernel's name and release ("Linux 6.1.0").
    const std::string& getOsVersionText() const { return m_osVersionText; }

    // Reads PRETTY_NAME from an os-release file; empty when absent.
    static std::string readPrettyName(const std::string& osReleasePath);

private:
    // What the kernel says of itself: the version text, and the product name used when the
    // distribution gives none. Empty when it does not answer. In the platform half
    // (linux/SystemInfoLinux.cpp).
    struct KernelNames {
        std::string versionText;
        std::string productName;
    };
    static KernelNames readKernelNames();

    CSystemInfo();

    std::string m_moduleVersion;
    std::string m_osProductName;
    std::string m_osVersionText;
};

} // namespace fv_transfers
