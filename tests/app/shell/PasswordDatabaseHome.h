#pragma once

#include <string>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace fv_test {

// This user's home folder as the password database gives it; empty without an entry.
inline std::string passwordDatabaseHome()
{
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(65536);
    return ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
                   found->pw_dir != nullptr
               ? found->pw_dir
               : "";
}

} // namespace fv_test
