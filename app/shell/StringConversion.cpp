#include "shell/StringConversion.h"

#include <Poco/TextIterator.h>
#include <Poco/UTF8Encoding.h>
#include <Poco/UnicodeConverter.h>

#include <algorithm>
#include <cstdint>

namespace ferrovan {

namespace {

bool isValidCodePoint(wchar_t c)
{
    const auto cp = static_cast<std::uint32_t>(c);
    return cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
}

} // namespace

bool isValidUtf8(const std::string& text)
{
    Poco::UTF8Encoding utf8;
    for (Poco::TextIterator it(text, utf8), end(text); it != end; ++it) {
        if (*it < 0 || !isValidCodePoint(static_cast<wchar_t>(*it)))
            return false;
    }
    return true;
}

void wideToUtf8(const std::wstring& in, std::string& out)
{
    out.clear();
    const std::wstring text = in.substr(0, in.find(L'\0'));
    if (!std::all_of(text.begin(), text.end(), isValidCodePoint))
        return;
    Poco::UnicodeConverter::convert(text, out);
}

void utf8ToWide(const std::string& in, std::wstring& out)
{
    out.clear();
    const std::string text = in.substr(0, in.find('\0'));
    if (!isValidUtf8(text))
        return;
    Poco::UnicodeConverter::convert(text, out);
}

} // namespace ferrovan
