#pragma once

#include <string>

namespace ferrovan {

// The script that moves the web application to `route` ("/message/new", "/share/new") through
// its router. The route goes in as a JSON string literal, so quotes, backslashes, line breaks and
// any other character reach the router as they were given.
std::string routeNavigationScript(const std::string& route);

} // namespace ferrovan
