#include "download/BookmarkTargets.h"

#include "core/base/StringConversion.h"
#include "core/files/FileUrl.h"
#include "core/log/FvTransfersLogger.h"

#include <Poco/Exception.h>
#include <Poco/File.h>

namespace fv_transfers {

namespace {

bool isFolder(const std::wstring& path)
{
    try {
        const Poco::File folder(wideToUtf8(path));
        return folder.exists() && folder.isDirectory();
    } catch (const Poco::Exception&) {
        return false;
    }
}

} // namespace

bool resolveBookmarkUri(const std::wstring& input, std::wstring& output)
{
    const std::optional<std::wstring> path = urlToLocalPath(input);
    if (!path) {
        FV_LOG_ERROR("Download destination is not a local folder URL: " << wideToUtf8(input));
        return false;
    }
    if (!isFolder(*path)) {
        FV_LOG_ERROR("Download destination folder does not exist: " << wideToUtf8(*path));
        return false;
    }
    output = *path;
    return true;
}

} // namespace fv_transfers
