#include "core/files/OsSafeFilenames.h"

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

template <class Str> void sanitiseName(Str& name)
{
    using Char = typename Str::value_type;
    for (Char& c : name) {
        if (isUnsafe(c))
            c = Char(' ');
    }
    if (isDots(name))
        name.assign(name.size(), Char('_'));
}

template <class Char> bool isSeparator(Char c)
{
    return c == Char('/') || c == Char('\\');
}

template <class Str> void sanitisePath(Str& path)
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
        sanitiseName(segment);
        segments.push_back(std::move(segment));
    }

    const bool folder = !path.empty() && isSeparator(path.back());
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
    sanitiseName(name);
}

void replaceUnsafeChars(std::wstring& name)
{
    sanitiseName(name);
}

void replaceUnsafeCharsInPath(std::string& path)
{
    try {
        sanitisePath(path);
    } catch (...) {
        path.clear(); // only memory exhaustion gets here; an empty path is refused by every caller
    }
}

void replaceUnsafeCharsInPath(std::wstring& path)
{
    try {
        sanitisePath(path);
    } catch (...) {
        path.clear();
    }
}

} // namespace os_safe_filenames
} // namespace fv_transfers
