#include "shell/FileUrl.h"

#include "shell/StringConversion.h"

#include <Poco/Exception.h>
#include <Poco/String.h>
#include <Poco/URI.h>

#include <optional>
#include <utility>

namespace ferrovan {

namespace {

const char* const kHexDigits = "0123456789ABCDEF";

// ASCII only: std::isalnum would follow the locale.
bool isUnreserved(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

bool isUsablePath(const std::string& path)
{
    return !path.empty() && path.front() == '/' && path.find('\0') == std::string::npos && isValidUtf8(path);
}

bool startsWithNoCase(const std::string& text, const std::string& prefix)
{
    return text.size() >= prefix.size() && Poco::icompare(text, 0, prefix.size(), prefix) == 0;
}

// The encoded absolute path of the URL: what follows "file:" and, when present, an empty or
// "localhost" authority. Nothing for other schemes and for any other authority (a remote host,
// user info, a port).
std::optional<std::string> encodedPath(const std::string& url)
{
    static const std::string scheme = "file:";
    if (!startsWithNoCase(url, scheme))
        return std::nullopt;
    const std::string rest = url.substr(scheme.size());
    if (rest.compare(0, 2, "//") != 0)
        return rest;
    const std::string::size_type pathStart = rest.find('/', 2);
    if (pathStart == std::string::npos)
        return std::nullopt;
    const std::string authority = rest.substr(2, pathStart - 2);
    if (!authority.empty() && Poco::icompare(authority, "localhost") != 0)
        return std::nullopt;
    return rest.substr(pathStart);
}

// An encoded "/" would turn one name into two folders, an encoded NUL would end the path early.
// Every "%" of a well-formed URL starts an escape, so a plain search finds them.
std::optional<std::string> percentDecoded(const std::string& encoded)
{
    const std::string lower = Poco::toLower(encoded);
    if (lower.find("%2f") != std::string::npos || lower.find("%00") != std::string::npos)
        return std::nullopt;
    try {
        std::string decoded;
        Poco::URI::decode(encoded, decoded);
        return decoded;
    } catch (const Poco::Exception&) {
        return std::nullopt; // an incomplete escape or one that is not hexadecimal
    }
}

} // namespace

bool pathToFileUrl(const std::string& path, std::string& url)
{
    if (!isUsablePath(path))
        return false;
    std::string encoded = "file://";
    encoded.reserve(encoded.size() + path.size() * 3);
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (isUnreserved(byte) || c == '/') {
            encoded += c;
            continue;
        }
        encoded += '%';
        encoded += kHexDigits[byte >> 4];
        encoded += kHexDigits[byte & 0x0F];
    }
    url = std::move(encoded);
    return true;
}

bool fileUrlToPath(const std::string& url, std::string& path)
{
    const std::optional<std::string> encoded = encodedPath(url);
    // A raw "?" or "#" starts a query or fragment, which no local file has.
    if (!encoded || encoded->find_first_of("?#") != std::string::npos)
        return false;
    const std::optional<std::string> decoded = percentDecoded(*encoded);
    if (!decoded || !isUsablePath(*decoded))
        return false;
    path = *decoded;
    return true;
}

} // namespace ferrovan
