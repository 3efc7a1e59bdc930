#include "core/base/PrivateDirectory.h"

#include <Poco/File.h>
#include <Poco/Path.h>

#include <exception>
#include <sys/stat.h>

namespace fv_transfers {

void createPrivateDirectory(const std::string& folder)
{
    if (folder.empty())
        return;
    try {
        if (Poco::File(folder).exists())
            return;
        Poco::Path path(folder);
        path.makeDirectory();
        if (path.depth() > 0)
            Poco::File(path.parent()).createDirectories();
        ::mkdir(folder.c_str(), 0700); // a folder made meanwhile by another thread is as good
    } catch (const std::exception&) {
    }
}

} // namespace fv_transfers
