#include "browser/WebOrigin.h"

#include <Poco/Exception.h>
#include <Poco/String.h>
#include <Poco/URI.h>

namespace ferrovan {

std::optional<WebOrigin> webOriginOf(const std::string& url)
{
    try {
        const Poco::URI parsed(url);
        // Poco gives the scheme in lower case and fills in the well-known ports.
        const std::string& scheme = parsed.getScheme();
        if ((scheme != "http" && scheme != "https") || parsed.getHost().empty())
            return std::nullopt;
        return WebOrigin{scheme, Poco::toLower(parsed.getHost()), parsed.getPort()};
    } catch (const Poco::Exception&) {
        return std::nullopt;
    }
}

} // namespace ferrovan
