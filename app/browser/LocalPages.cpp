#include "browser/LocalPages.h"

#include <Poco/Exception.h>
#include <Poco/StringTokenizer.h>
#include <Poco/URI.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace ferrovan {

namespace {

namespace fs = std::filesystem;

// The decoded path relative to the resources folder, or false when any part of it could step
// outside or name something other than a plain file name chain.
bool relativeResourcePath(const std::string& requestPath, std::string& relative)
{
    std::string decoded;
    try {
        Poco::URI::decode(requestPath, decoded);
    } catch (const Poco::Exception&) {
        return false;
    }
    if (decoded.size() < 2 || decoded.front() != '/' || decoded.find('\0') != std::string::npos)
        return false;
    relative = decoded.substr(1);
    if (relative.back() == '/')
        return false;
    const Poco::StringTokenizer segments(relative, "/");
    return std::none_of(segments.begin(), segments.end(), [](const std::string& segment) {
        return segment.empty() || segment == "." || segment == "..";
    });
}

// Whether `path` is `folder` itself or lies below it, both already free of links and dot segments.
bool isInside(const fs::path& path, const fs::path& folder)
{
    const auto [folderEnd, pathAt] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return folderEnd == folder.end() && pathAt != path.end();
}

} // namespace

std::string localPageUrl(const std::string& name)
{
    return std::string(kLocalScheme) + "://" + kLocalHost + "/" + name;
}

void getLocalPageUrls(std::vector<std::string>& urls)
{
    urls.push_back(localPageUrl(kLoadingPage));
    urls.push_back(localPageUrl(kErrorPage));
}

std::string resolveLocalResource(const std::string& resourcesDirectory, const std::string& requestPath)
{
    std::string relative;
    if (resourcesDirectory.empty() || !relativeResourcePath(requestPath, relative))
        return {};
    // Links are resolved on both sides before the containment test, so one inside the folder
    // that points out of it is caught.
    std::error_code error;
    const fs::path folder = fs::canonical(resourcesDirectory, error);
    if (error)
        return {};
    const fs::path file = fs::canonical(folder / relative, error);
    if (error || !isInside(file, folder) || !fs::is_regular_file(file, error))
        return {};
    return file.string();
}

} // namespace ferrovan
