#pragma once

#include <optional>
#include <string>

namespace ferrovan {

// Where a web page comes from, as browsers compare it: scheme, host and port, never a string
// prefix, so "https://svc.evil.example" is not "https://svc" and "http:" is not "https:".
struct WebOrigin {
    std::string scheme;      // "http" or "https"
    std::string host;        // lower case
    unsigned short port = 0; // the scheme's default when the address names none

    bool operator==(const WebOrigin& other) const
    {
        return scheme == other.scheme && host == other.host && port == other.port;
    }
    bool operator!=(const WebOrigin& other) const { return !(*this == other); }
};

// The origin of an http or https address with a host; nothing for any other address or for text
// that does not parse.
std::optional<WebOrigin> webOriginOf(const std::string& url);

} // namespace ferrovan
