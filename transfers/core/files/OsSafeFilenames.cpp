#include "core/files/OsSafeFilenames.h"

#include <algorithm>
#include <type_traits>
#include <vector>

namespace fv_transfers {
namespace os_safe_filenames {

namespace {

const char kUnsafeChars[] = "^/?<>:*|\"";

template <class Char> bool isUnsafe(Char c)
{
    const auto code = static_cast<std::make_unsigned_t<Char>>(c);
    if (code < 0x20 || code == 0x7F)
        return true;
    if (sizeof(Char) > 1 && (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)))
        return true; // no file name can hold it, and it would fail every UTF-8 conversion
    for (const char* unsafe = kUnsafeChars; *unsafe; ++unsafe) {
        if (code == static_cast<unsigned char>(*unsafe))
            return true;
    }
    return false;
}

template <class Str> bool isDots(const Str& segment)
{
    using Char = typename Str::value_type;
    return segment == Str(1, Char('.')) || segment == Str(2, Char('.'));
}

// UTF-8 bytes of one unit: a byte is one, a wide character as many as it encodes to.
std::size_t utf8Bytes(char)
{
    return 1;
}

std::size_t utf8Bytes(wchar_t c)
{
    const auto code = static_cast<std::make_unsigned_t<wchar_t>>(c);
    return code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
}

// Whether a cut may fall before this unit: never inside a UTF-8 sequence.
bool startsCharacter(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
}

bool startsCharacter(wchar_t)
{
    return true;
}

// How many leading units of `text` fit in `budget` UTF-8 bytes, ending at a character boundary.
template <class Str> std::size_t unitsWithin(const Str& text, std::size_t budget)
{
    std::size_t bytes = 0;
    std::size_t units = 0;
    while (units < text.size() && bytes + utf8Bytes(text[units]) <= budget)
        bytes += utf8Bytes(text[units++]);
    while (units > 0 && units < text.size() && !startsCharacter(text[units]))
        --units;
    return units;
}

template <class Str> std::size_t utf8Length(const Str& text)
{
    std::size_t bytes = 0;
    for (auto c : text)
        bytes += utf8Bytes(c);
    return bytes;
}

template <class Str> void shorten(Str& name, std::size_t reservedSuffixBytes)
{
    using Char = typename Str::value_type;
    // At least one character of any size stays, whatever the caller reserves.
    const std::size_t budget = kMaxNameBytes - std::min(reservedSuffixBytes, kMaxNameBytes - 4);
    if (utf8Length(name) <= budget)
        return;
    const std::size_t dot = name.rfind(Char('.'));
    if (dot != Str::npos && dot > 0) {
        const std::size_t extensionBytes = utf8Length(name.substr(dot));
        if (extensionBytes < budget) {
            const std::size_t stem = unitsWithin(name, budget - extensionBytes);
            if (stem > 0) {
                name.erase(stem, dot - stem);
                return;
            }
        }
    }
    name.resize(unitsWithin(name, budget));
}

template <class Str> void sanitiseName(Str& name, std::size_t reservedSuffixBytes)
{
    using Char = typename Str::value_type;
    for (Char& c : name) {
        if (isUnsafe(c))
            c = Char(' ');
    }
    shorten(name, reservedSuffixBytes);
    if (isDots(name))
        name.assign(name.size(), Char('_'));
}

template <class Char> bool isSeparator(Char c)
{
    return c == Char('/') || c == Char('\\');
}

template <class Str> void sanitisePath(Str& path, std::size_t reservedSuffixBytes)
{
    using Char = typename Str::value_type;
    size_t pos = 0;
    if (path.size() >= 2 && path[1] == Char(':') &&
        ((path[0] >= Char('a') && path[0] <= Char('z')) || (path[0] >= Char('A') && path[0] <= Char('Z'))))
        pos = 2;
    // "\\host\share\..." names another machine; the host is no part of a local path.
    bool skipHost = path.size() >= pos + 2 && isSeparator(path[pos]) && isSeparator(path[pos + 1]);

    std::vector<Str> segments;
    while (pos <= path.size()) {
        size_t end = pos;
        while (end < path.size() && !isSeparator(path[end]))
            ++end;
        Str segment = path.substr(pos, end - pos);
        pos = end + 1;
        if (segment.empty() || segment == Str(1, Char('.')))
            continue;
        if (skipHost) {
            skipHost = false;
            continue;
        }
        if (segment == Str(2, Char('.'))) {
            if (!segments.empty())
                segments.pop_back();
            continue;
        }
        segments.push_back(std::move(segment));
    }

    const bool folder = !path.empty() && isSeparator(path.back());
    for (std::size_t i = 0; i < segments.size(); ++i)
        sanitiseName(segments[i], !folder && i + 1 == segments.size() ? reservedSuffixBytes : 0);
    Str result;
    for (const Str& segment : segments) {
        if (!result.empty())
            result += Char('/');
        result += segment;
    }
    if (folder && !result.empty())
        result += Char('/');
    path.swap(result);
}

} // namespace

void replaceUnsafeChars(std::string& name)
{
    replaceUnsafeChars(name, 0);
}

void replaceUnsafeChars(std::wstring& name)
{
    replaceUnsafeChars(name, 0);
}

void replaceUnsafeCharsInPath(std::string& path)
{
    replaceUnsafeCharsInPath(path, 0);
}

void replaceUnsafeCharsInPath(std::wstring& path)
{
    replaceUnsafeCharsInPath(path, 0);
}

void replaceUnsafeChars(std::string& name, std::size_t reservedSuffixBytes)
{
    sanitiseName(name, reservedSuffixBytes);
}

void replaceUnsafeChars(std::wstring& name, std::size_t reservedSuffixBytes)
{
    sanitiseName(name, reservedSuffixBytes);
}

void replaceUnsafeCharsInPath(std::string& path, std::size_t reservedSuffixBytes)
{
    try {
        sanitisePath(path, reservedSuffixBytes);
    } catch (...) {
        path.clear(); // only memory exhaustion gets here; an empty path is refused by every caller
    }
}

void replaceUnsafeCharsInPath(std::wstring& path, std::size_t reservedSuffixBytes)
{
    try {
        sanitisePath(path, reservedSuffixBytes);
    } catch (...) {
        path.clear();
    }
}

} // namespace os_safe_filenames
} // namespace fv_transfers
