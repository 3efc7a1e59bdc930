#include "shell/HandOverFiles.h"

#include "shell/HandOffTarget.h"
#include "shell/Logger.h"

#include <Poco/File.h>
#include <Poco/Path.h>

#include <exception>

namespace ferrovan {

namespace {

bool namesAnExistingItem(const std::string& path)
{
    Poco::Path parsed;
    if (path.empty() || !parsed.tryParse(path, Poco::Path::PATH_UNIX) || !parsed.isAbsolute())
        return false;
    try {
        // Poco drops a trailing separator, which would let "file/" pass for the file.
        const Poco::File item(parsed);
        return item.exists() && (!parsed.isDirectory() || item.isDirectory());
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

HandedOverPaths filterHandedOverPaths(const std::list<std::string>& paths)
{
    HandedOverPaths result;
    for (const std::string& path : paths) {
        if (result.kept.size() < kMaxHandedOverPaths && namesAnExistingItem(path))
            result.kept.push_back(path);
        else
            ++result.dropped;
    }
    return result;
}

void handOverFiles(IHandOffTarget& target, const std::list<std::string>& paths, bool complete, bool defer, ILogger* log)
{
    const HandedOverPaths handed = filterHandedOverPaths(paths);
    if (handed.dropped > 0)
        logLine(log, Poco::Message::PRIO_WARNING,
                "ferrovan::handOverFiles: " + std::to_string(handed.dropped) + " dropped of " +
                    std::to_string(paths.size()) + " handed-over paths (empty, relative, missing or past the cap)");
    if (handed.kept.empty())
        return;
    if (target.isAppInitialized())
        target.filesDropped(handed.kept, complete, defer);
    else
        target.storePendingFiles(handed.kept, complete, defer);
}

} // namespace ferrovan
