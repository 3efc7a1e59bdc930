#include "shell/StringConversion.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using ferrovan::utf8ToWide;
using ferrovan::wideToUtf8;

struct Case {
    const char* name;
    std::string utf8;
    std::wstring wide;
};

// Text beyond a zero character is dropped; invalid input converts to nothing at all.
TEST(StringConversion, ConvertsBothWaysAndStopsAtZero)
{
    const Case cases[] = {
        {"empty", "", L""},
        {"ascii", "plain.txt", L"plain.txt"},
        {"accents and CJK", "r\xC3\xA9sum\xC3\xA9 \xE6\x96\x87.pdf", L"r\u00E9sum\u00E9 \u6587.pdf"},
        {"outside the BMP", "\xF0\x9F\x93\x81 folder", L"\U0001F4C1 folder"},
    };
    for (const auto& c : cases) {
        std::wstring wide = L"stale";
        utf8ToWide(c.utf8, wide);
        EXPECT_EQ(wide, c.wide) << c.name;
        std::string utf8 = "stale";
        wideToUtf8(c.wide, utf8);
        EXPECT_EQ(utf8, c.utf8) << c.name;
    }

    std::wstring wide;
    utf8ToWide(std::string("before\0after", 12), wide);
    EXPECT_EQ(wide, L"before");
    std::string utf8;
    wideToUtf8(std::wstring(L"before\0after", 12), utf8);
    EXPECT_EQ(utf8, "before");
}

TEST(StringConversion, InvalidInputGivesAnEmptyResult)
{
    const std::string badUtf8[] = {"\xFF", "ab\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"};
    for (const auto& text : badUtf8) {
        std::wstring wide = L"stale";
        utf8ToWide(text, wide);
        EXPECT_TRUE(wide.empty()) << ::testing::PrintToString(text);
    }
    const std::wstring badWide[] = {std::wstring(1, static_cast<wchar_t>(0xD800)),
                                    std::wstring(1, static_cast<wchar_t>(0x110000))};
    for (const auto& text : badWide) {
        std::string utf8 = "stale";
        wideToUtf8(text, utf8);
        EXPECT_TRUE(utf8.empty());
    }
}

} // namespace
