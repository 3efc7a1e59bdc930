#pragma once

#include <string>

namespace fv_transfers {

// std::wstring holds UTF-32 on Linux. Both conversions stop at the first zero character and
// give an empty result for input that is not valid UTF-8 / not valid code points.
std::string wideToUtf8(const std::wstring& text);
std::wstring utf8ToWide(const std::string& text);

} // namespace fv_transfers
