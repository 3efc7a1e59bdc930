#pragma once

#include <string>

namespace ferrovan {

class AppEnvironment;

// The web application's address: the base URL with the application path appended as it is;
// empty when there is no base URL.
std::string getWebAppUrl(const AppEnvironment& environment);

// Whether `url` comes from the web application's origin. False when the web application's
// address is empty or not an http(s) address: then no page is the web application.
bool isWebAppOrigin(const std::string& url, const std::string& webAppUrl);

// Whether `url` is the web application's address or lies below it: the same origin and a path
// that is the application path or continues it after a "/" ("/app", "/app/x", not "/apple"),
// compared after removing dot segments.
bool isUnderWebApp(const std::string& url, const std::string& webAppUrl);

} // namespace ferrovan
