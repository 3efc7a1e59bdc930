#include "bridge/UserGrantedPaths.h"

#include "bridge/LocalPath.h"

namespace ferrovan {

UserGrantedPaths& UserGrantedPaths::getInstance()
{
    static UserGrantedPaths paths;
    return paths;
}

bool UserGrantedPaths::grant(const std::string& path)
{
    const std::string granted = normalisedAbsolutePath(path);
    if (granted.empty())
        return false;
    m_paths.insert(granted);
    return true;
}

bool UserGrantedPaths::isGranted(const std::string& path) const
{
    std::string probe = normalisedAbsolutePath(path);
    // The path itself, then each folder above it, up to "/".
    while (!probe.empty()) {
        if (m_paths.count(probe))
            return true;
        if (probe == "/")
            return false;
        const std::string::size_type slash = probe.rfind('/');
        probe = slash == 0 ? "/" : probe.substr(0, slash);
    }
    return false;
}

} // namespace ferrovan
