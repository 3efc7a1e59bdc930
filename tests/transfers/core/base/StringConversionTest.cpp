#include "core/base/StringConversion.h"

#include <gtest/gtest.h>

using fv_transfers::utf8ToWide;
using fv_transfers::wideToUtf8;

TEST(StringConversion, RoundTripsEveryPlaneOfUnicode)
{
    struct Case {
        const char* utf8;
        std::wstring wide;
    };
    const Case cases[] = {
        {"", L""},
        {"report.log", L"report.log"},
        {"Grüße", {L'G', L'r', 0xFC, 0xDF, L'e'}},
        {"\xE6\x97\xA5\xE6\x9C\xAC", {0x65E5, 0x672C}},
        {"\xF0\x9F\x98\x80 \xF0\x9D\x84\x9E", {0x1F600, L' ', 0x1D11E}}, // one wchar_t each, no surrogate pairs
        {"\xF4\x8F\xBF\xBF", {0x10FFFF}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.wide, utf8ToWide(c.utf8)) << c.utf8;
        EXPECT_EQ(c.utf8, wideToUtf8(c.wide)) << c.utf8;
    }
}

TEST(StringConversion, InvalidUtf8GivesEmptyText)
{
    const char* const cases[] = {
        "\xC0\xAF",         // overlong "/"
        "a\xE0\x80\xAF",    // overlong, three bytes
        "\xF0\x80\x80\xAF", // overlong, four bytes
        "\xED\xA0\x80",     // a UTF-16 surrogate
        "ok\xE2\x82",       // truncated sequence at the end
        "\xF0\x9F\x98 x",   // truncated sequence in the middle
        "\x80",             // stray continuation byte
        "a\xBF z",          // stray continuation byte inside text
        "\xF4\x90\x80\x80", // beyond U+10FFFF
        "\xF8\x88\x80\x80\x80",
        "\xFF",
    };
    for (const char* c : cases)
        EXPECT_EQ(std::wstring(), utf8ToWide(c)) << testing::PrintToString(std::string(c));
}

TEST(StringConversion, InvalidCodePointsGiveEmptyText)
{
    const std::wstring cases[] = {{L'a', 0xD800}, {0xDFFF}, {0x110000, L'b'}};
    for (const std::wstring& c : cases)
        EXPECT_EQ(std::string(), wideToUtf8(c));
}

TEST(StringConversion, StopsAtFirstZeroCharacter)
{
    EXPECT_EQ(L"ab", utf8ToWide(std::string("ab\0\xFF", 4)));
    EXPECT_EQ("ab", wideToUtf8(std::wstring(L"ab\0cd", 5)));
    EXPECT_EQ(L"", utf8ToWide(std::string("\0x", 2)));
}
