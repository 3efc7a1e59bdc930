#include "core/base/StringConversion.h"

#include <cstdint>

namespace fv_transfers {

namespace {

bool isValidCodePoint(std::uint32_t cp)
{
    return cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
}

void appendUtf8(std::uint32_t cp, std::string& out)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

std::string wideToUtf8(const std::wstring& text)
{
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        const auto cp = static_cast<std::uint32_t>(wc);
        if (cp == 0)
            break;
        if (!isValidCodePoint(cp))
            return std::string();
        appendUtf8(cp, out);
    }
    return out;
}

std::wstring utf8ToWide(const std::string& text)
{
    std::wstring out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead == 0)
            break;
        size_t length;
        std::uint32_t cp;
        std::uint32_t minimum;
        if (lead < 0x80) {
            length = 1, cp = lead, minimum = 0;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, cp = lead & 0x1F, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, cp = lead & 0x0F, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, cp = lead & 0x07, minimum = 0x10000;
        } else {
            return std::wstring();
        }
        if (i + length > text.size())
            return std::wstring();
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return std::wstring();
            cp = (cp << 6) | (next & 0x3F);
        }
        if (cp < minimum || !isValidCodePoint(cp))
            return std::wstring(); // overlong forms and surrogates are not UTF-8
        out += static_cast<wchar_t>(cp);
        i += length;
    }
    return out;
}

} // namespace fv_transfers
