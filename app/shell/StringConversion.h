#pragma once

#include <string>

namespace ferrovan {

// The bridge's conversions between JSON text and the transfer library's wide strings
// (UTF-32 on Linux). Both empty `out` first, read `in` up to its first zero character, and
// leave `out` empty for input that is not valid UTF-8 or not valid code points.
void wideToUtf8(const std::wstring& in, std::string& out);
void utf8ToWide(const std::string& in, std::wstring& out);

// True when every byte of `text` belongs to a well-formed UTF-8 sequence of a valid code point
// (no surrogates, nothing above U+10FFFF). NUL bytes count as valid.
bool isValidUtf8(const std::string& text);

} // namespace ferrovan
