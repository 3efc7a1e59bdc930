#pragma once

#include <string>
#include <vector>

namespace ferrovan {

// The program's own pages ("loading.html", "error.html") and what they load come from the
// resources folder through a URL scheme of our own, never through "file:", so the navigation
// policy can refuse every local file while still showing these.
constexpr const char* kLocalScheme = "fv-resource";
constexpr const char* kLocalHost = "local";
constexpr const char* kLoadingPage = "loading.html";
constexpr const char* kErrorPage = "error.html";

// "fv-resource://local/" + `name`.
std::string localPageUrl(const std::string& name);

// Appends the loading page's URL, then the error page's.
void getLocalPageUrls(std::vector<std::string>& urls);

// The file a request of the local scheme names: `requestPath` (the URL's path, still
// percent-encoded, starting with "/") below `resourcesDirectory`. Empty, meaning not found, for
// anything but an existing regular file inside the folder: a bad escape, a NUL, an empty, "." or
// ".." segment (also encoded), a second leading "/", or a symbolic link leading out of the folder.
std::string resolveLocalResource(const std::string& resourcesDirectory, const std::string& requestPath);

} // namespace ferrovan
