#pragma once

#include <Poco/StringTokenizer.h>

#include <string>
#include <sys/stat.h>
#include <vector>

namespace fv_test {

// What every line of the program's log starts with: the local time (month-day-year), the thread's
// id and name.
inline const char* const kLogLinePrefix = R"(\[\d{1,2}-\d{1,2}-\d\d \d\d:\d\d:\d\d:\d{3}\] \[\d+ [^\]]*\] )";

inline std::vector<std::string> linesOf(const std::string& text)
{
    Poco::StringTokenizer lines(text, "\n", Poco::StringTokenizer::TOK_IGNORE_EMPTY);
    return {lines.begin(), lines.end()};
}

// The permission bits of `path`; 0 when it does not exist.
inline mode_t modeOf(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

} // namespace fv_test
