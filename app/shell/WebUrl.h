#pragma once

#include <string>

namespace ferrovan {

// Whether `url` is an http or https address with a host: the only kind the program hands to
// the desktop to open, since pages may name anything (local files, scripts, other schemes).
bool isWebUrl(const std::string& url);

} // namespace ferrovan
