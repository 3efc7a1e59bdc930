#include "shell/WebUrl.h"

#include <Poco/Exception.h>
#include <Poco/URI.h>

namespace ferrovan {

// "http://host..." or "https://host...", nothing else: no other scheme, no scheme-relative or
// local path, no blanks or control characters a handler's command line could split on.
bool isWebUrl(const std::string& url)
{
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F)
            return false;
    }
    try {
        const Poco::URI parsed(url);
        // Poco gives the scheme in lower case.
        return (parsed.getScheme() == "http" || parsed.getScheme() == "https") && !parsed.getHost().empty();
    } catch (const Poco::Exception&) {
        return false;
    }
}

} // namespace ferrovan
