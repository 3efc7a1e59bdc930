#pragma once

#include <cstddef>
#include <list>
#include <string>

namespace ferrovan {

class IHandOffTarget;
class ILogger;

// The most paths one hand-over delivers; any client of the session bus may call.
constexpr std::size_t kMaxHandedOverPaths = 10000;

struct HandedOverPaths {
    std::list<std::string> kept;
    std::size_t dropped = 0;
};

// Keeps, in order, the absolute paths that name an existing file or folder, at most
// kMaxHandedOverPaths of them; every other path, and each one past the cap, counts as dropped.
HandedOverPaths filterHandedOverPaths(const std::list<std::string>& paths);

// Filters `paths`, logs how many were dropped, and hands the rest to the ready page, or keeps
// them for it until it is ready. Nothing when no path is left.
void handOverFiles(IHandOffTarget& target, const std::list<std::string>& paths, bool complete, bool defer,
                   ILogger* log);

} // namespace ferrovan
