#include "support/service/ByteCount.h"

#include <cctype>
#include <limits>

namespace fv_test {

namespace {

// The power of 1024 a suffix stands for; -1 when it is none of ours.
int suffixPower(std::string suffix)
{
    for (char& c : suffix)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (suffix.empty() || suffix == "B")
        return 0;
    static const std::string kLetters = "KMGT";
    const size_t letter = kLetters.find(suffix[0]);
    if (letter == std::string::npos)
        return -1;
    const std::string rest = suffix.substr(1);
    if (!rest.empty() && rest != "I" && rest != "B" && rest != "IB")
        return -1;
    return static_cast<int>(letter) + 1;
}

} // namespace

std::optional<uint64_t> parseByteCount(const std::string& text)
{
    size_t digits = 0;
    uint64_t value = 0;
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) {
        const uint64_t digit = static_cast<uint64_t>(text[digits] - '0');
        if (value > (kMax - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
        ++digits;
    }
    const int power = suffixPower(text.substr(digits));
    if (digits == 0 || power < 0)
        return std::nullopt;
    for (int i = 0; i < power; ++i) {
        if (value > kMax / 1024)
            return std::nullopt;
        value *= 1024;
    }
    return value;
}

} // namespace fv_test
