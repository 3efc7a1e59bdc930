#pragma once

#include <string>

namespace ferrovan {

// `path` without repeated or trailing "/" when it is absolute and has no "." or ".." segment
// and no NUL; empty otherwise. A path the page names is taken only in this form, so what it
// names is what a person reading it sees.
std::string normalisedAbsolutePath(const std::string& path);

} // namespace ferrovan
