#include "shell/CommandLineParser.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using ferrovan::CommandLineArguments;
using ferrovan::CommandLineParser;

struct ParseCase {
    const char* name;
    std::vector<const char*> argv; // argv[0] included
    std::map<int, std::string> stringOptions;
    unsigned int waitForPid;
    std::vector<int> dataKinds;
    bool removeCefLog;
    std::size_t warnings;
};

CommandLineArguments parse(const std::vector<const char*>& argv)
{
    CommandLineArguments out;
    CommandLineParser::parse(static_cast<int>(argv.size()), argv.data(), out);
    return out;
}

// A known option takes the next argument as its value unless that is an option itself; an
// unusable value loses only its own option.
TEST(CommandLineParser, ReadsTheOptionTable)
{
    const ParseCase cases[] = {
        {"option followed by an option",
         {"Ferrovan", "--app-url", "--rest-path", "/x"},
         {{0, ""}, {1, "/x"}},
         0,
         {},
         false,
         0},
        {"later string option wins", {"Ferrovan", "--app-url", "a", "--app-url", "b"}, {{0, "b"}}, 0, {}, false, 0},
        {"every string option",
         {"Ferrovan", "--rest-endpoint-url", "http://h/api", "--disable-autoupdate", "yes"},
         {{2, "http://h/api"}, {3, "yes"}},
         0,
         {},
         false,
         0},
        {"pid with thousands separator", {"Ferrovan", "--wait-for-pid", "1,234"}, {}, 1234, {}, false, 0},
        {"bad pid skipped, later options kept",
         {"Ferrovan", "--wait-for-pid", "abc", "--reset-logs"},
         {},
         0,
         {2},
         false,
         1},
        {"pid without value", {"Ferrovan", "--wait-for-pid", "--reset-settings"}, {}, 0, {4}, false, 1},
        {"negative pid", {"Ferrovan", "--wait-for-pid", "-5"}, {}, 0, {}, false, 1},
        {"reset data then logs, repeats kept",
         {"Ferrovan", "--reset-data", "--reset-logs"},
         {},
         0,
         {0, 1, 2, 4, 2},
         false,
         0},
        {"flag consumes a value", {"Ferrovan", "--reset-logs", "foo", "--reset-settings"}, {}, 0, {2, 4}, false, 0},
        {"each reset option",
         {"Ferrovan", "--reset-local-db", "--reset-web-cache", "--reset-logs", "--reset-settings"},
         {},
         0,
         {0, 1, 2, 4},
         false,
         0},
        {"remove browser log", {"Ferrovan", "--remove-cef-log"}, {}, 0, {}, true, 0},
        {"program name and unknown options ignored",
         {"--reset-data", "--type=renderer", "--RESET-LOGS", "x"},
         {},
         0,
         {},
         false,
         0},
        {"nothing", {"Ferrovan"}, {}, 0, {}, false, 0},
    };
    for (const auto& c : cases) {
        const CommandLineArguments parsed = parse(c.argv);
        EXPECT_EQ(parsed.stringOptions, c.stringOptions) << c.name;
        EXPECT_EQ(parsed.waitForPid, c.waitForPid) << c.name;
        EXPECT_EQ(parsed.dataKinds, c.dataKinds) << c.name;
        EXPECT_EQ(parsed.removeCefLog, c.removeCefLog) << c.name;
        EXPECT_EQ(parsed.warnings.size(), c.warnings) << c.name;
    }
}

TEST(CommandLineParser, WarningNamesTheSkippedOptionAndValue)
{
    const CommandLineArguments parsed = parse({"Ferrovan", "--wait-for-pid", "abc"});
    ASSERT_EQ(parsed.warnings.size(), 1u);
    EXPECT_NE(parsed.warnings[0].find("--wait-for-pid"), std::string::npos);
    EXPECT_NE(parsed.warnings[0].find("abc"), std::string::npos);
}

// The restart builds its command line from these; parsing it back gives the same kinds.
TEST(CommandLineParser, OptionForEachResettableKindParsesBackToIt)
{
    for (int kind : {0, 1, 2, 4}) {
        const std::string option = CommandLineParser::getOptionForDataType(kind);
        EXPECT_EQ(parse({"Ferrovan", option.c_str()}).dataKinds, std::vector<int>{kind}) << option;
    }
    EXPECT_EQ(CommandLineParser::getWaitForPidOption(), "--wait-for-pid");
}

TEST(CommandLineParser, KindsWithoutOptionThrow)
{
    for (int kind : {3, 5, -1}) {
        try {
            CommandLineParser::getOptionForDataType(kind);
            ADD_FAILURE() << kind;
        } catch (const CommandLineParser::NoSuitableOptionForDataTypeException& e) {
            EXPECT_EQ(std::string(e.what()), "Option for data type " + std::to_string(kind) + " is not supported!");
        }
    }
}

} // namespace
