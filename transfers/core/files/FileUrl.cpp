#include "core/files/FileUrl.h"

#include "core/base/StringConversion.h"

#include <Poco/String.h>
#include <Poco/URI.h>

#include <exception>

namespace fv_transfers {

namespace {

std::int32_t decodeFileUrl(const std::string& url, std::string& path)
{
    const Poco::URI uri(url);
    if (uri.getScheme() != "file" || !uri.getUserInfo().empty() || uri.getSpecifiedPort() != 0 ||
        !uri.getRawQuery().empty() || !uri.getFragment().empty())
        return hresult::invalid_argument;
    if (!uri.getHost().empty() && Poco::icompare(uri.getHost(), "localhost") != 0)
        return hresult::bad_net_path;
    const std::string& decoded = uri.getPath();
    if (decoded.empty() || decoded.front() != '/' || decoded.find('\0') != std::string::npos)
        return hresult::invalid_argument;
    path = decoded;
    return hresult::ok;
}

} // namespace

std::int32_t urlToLocalPath(const std::wstring& url, std::wstring& path)
{
    try {
        std::string decoded;
        const std::int32_t result = decodeFileUrl(wideToUtf8(url), decoded);
        if (!succeeded(result))
            return result;
        std::wstring wide = utf8ToWide(decoded);
        if (wide.empty())
            return hresult::invalid_argument; // the decoded bytes were not UTF-8
        path.swap(wide);
        return hresult::ok;
    } catch (const std::exception&) {
        return hresult::invalid_argument; // malformed URL or percent-encoding
    }
}

} // namespace fv_transfers
