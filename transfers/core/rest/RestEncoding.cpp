#include "core/rest/RestEncoding.h"

#include <algorithm>
#include <cctype>

namespace fv_transfers {
namespace rest_encoding {

namespace {

bool isUnreserved(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_' || c == '~';
}

} // namespace

bool isSafeId(const std::string& id)
{
    constexpr std::size_t kMaxIdLength = 256;
    if (id.empty() || id.size() > kMaxIdLength || id == "." || id == "..")
        return false;
    return std::all_of(id.begin(), id.end(), isUnreserved);
}

bool hasControlCharacter(const std::string& text)
{
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

std::string encodeQueryValue(const std::string& value)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (isUnreserved(c)) {
            out += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0f];
        }
    }
    return out;
}

std::string withoutQuery(const std::string& path)
{
    return path.substr(0, path.find('?'));
}

} // namespace rest_encoding
} // namespace fv_transfers
