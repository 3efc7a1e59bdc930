#pragma once

#include <set>
#include <string>

namespace ferrovan {

// The local files and folders the user handed over in this run (the choosers, a drop, Send and
// Share): the page may upload a file only when it, or a folder above it, is here. Page script
// could otherwise name any file the user can read. Grants last for the run and are never
// stored. UI thread only.
class UserGrantedPaths {
public:
    // The program's one store, fed by whatever hands the page local items.
    static UserGrantedPaths& getInstance();

    // An absolute path without "." or ".." segments; anything else grants nothing (false).
    bool grant(const std::string& path);
    // True when `path` (absolute, normalised) is a granted path or lies inside a granted folder;
    // the test is per path component: "/a/bc" is not inside "/a/b".
    bool isGranted(const std::string& path) const;

private:
    std::set<std::string> m_paths;
};

} // namespace ferrovan
