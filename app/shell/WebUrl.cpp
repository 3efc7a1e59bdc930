#include "shell/WebUrl.h"

#include <Poco/Exception.h>
#include <Poco/URI.h>

namespace ferrovan {

bool isWebUrl(const std::string& url)
{
    try {
        const Poco::URI uri(url); // the scheme comes back in lower case
        return (uri.getScheme() == "http" || uri.getScheme() == "https") && !uri.getHost().empty();
    } catch (const Poco::Exception&) {
        return false;
    }
}

} // namespace ferrovan
