#include "core/files/FileUrl.h"

#include "core/base/StringConversion.h"

#include <Poco/String.h>
#include <Poco/URI.h>

#include <exception>

namespace fv_transfers {

namespace {

std::optional<std::string> decodeFileUrl(const std::string& url)
{
    const Poco::URI uri(url);
    if (uri.getScheme() != "file" || !uri.getUserInfo().empty() || uri.getSpecifiedPort() != 0 ||
        !uri.getRawQuery().empty() || !uri.getFragment().empty())
        return std::nullopt;
    if (!uri.getHost().empty() && Poco::icompare(uri.getHost(), "localhost") != 0)
        return std::nullopt; // a file on another host
    const std::string& decoded = uri.getPath();
    if (decoded.empty() || decoded.front() != '/' || decoded.find('\0') != std::string::npos)
        return std::nullopt;
    return decoded;
}

} // namespace

std::optional<std::wstring> urlToLocalPath(const std::wstring& url)
{
    try {
        const std::optional<std::string> decoded = decodeFileUrl(wideToUtf8(url));
        if (!decoded)
            return std::nullopt;
        std::wstring wide = utf8ToWide(*decoded);
        if (wide.empty())
            return std::nullopt; // the decoded bytes were not UTF-8
        return wide;
    } catch (const std::exception&) {
        return std::nullopt; // malformed URL or percent-encoding
    }
}

} // namespace fv_transfers
