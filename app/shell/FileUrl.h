#pragma once

#include <string>

namespace ferrovan {

// "file:" URLs as the page and the choosers pass local items. Both directions take and give
// UTF-8 and leave the output alone on failure.

// An absolute path to "file:///..." with every byte but the unreserved characters and "/"
// percent-encoded. Relative paths, NUL bytes and text that is not UTF-8 fail.
bool pathToFileUrl(const std::string& path, std::string& url);

// "file:///abs", "file:/abs" and "file://localhost/abs" to the percent-decoded absolute path.
// Other schemes and hosts, queries, fragments, an encoded "/" or NUL, bad escapes and paths
// that are not UTF-8 fail.
bool fileUrlToPath(const std::string& url, std::string& path);

} // namespace ferrovan
