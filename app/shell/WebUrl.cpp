#include "shell/WebUrl.h"

#include <Poco/Exception.h>
#include <Poco/String.h>
#include <Poco/URI.h>

namespace ferrovan {

namespace {

// The host of an authority "user@host:port" or "[v6]:port".
std::string hostOf(const std::string& authority)
{
    const std::string::size_type at = authority.rfind('@');
    const std::string hostAndPort = at == std::string::npos ? authority : authority.substr(at + 1);
    if (!hostAndPort.empty() && hostAndPort.front() == '[') {
        const std::string::size_type close = hostAndPort.find(']');
        return close == std::string::npos ? "" : hostAndPort.substr(1, close - 1);
    }
    return hostAndPort.substr(0, hostAndPort.find(':'));
}

} // namespace

// "http://host..." or "https://host...", nothing else: no other scheme, no scheme-relative or
// local path, no blanks or control characters a handler's command line could split on.
bool isWebUrl(const std::string& url)
{
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F)
            return false;
    }
    const std::string::size_type colon = url.find(':');
    if (colon == std::string::npos)
        return false;
    const std::string scheme = url.substr(0, colon);
    if (Poco::icompare(scheme, "http") != 0 && Poco::icompare(scheme, "https") != 0)
        return false;
    if (url.compare(colon + 1, 2, "//") != 0)
        return false;
    const std::string::size_type authorityStart = colon + 3;
    const std::string::size_type authorityEnd = url.find_first_of("/?#", authorityStart);
    if (hostOf(url.substr(authorityStart, authorityEnd - authorityStart)).empty())
        return false;
    try {
        Poco::URI parsed(url);
        return !parsed.getHost().empty();
    } catch (const Poco::Exception&) {
        return false;
    }
}

} // namespace ferrovan
