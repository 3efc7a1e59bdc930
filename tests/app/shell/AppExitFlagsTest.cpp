#include "shell/AppExitFlags.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ferrovan::AppExitFlags;
using Arguments = std::vector<std::string>;

TEST(AppExitFlags, IsFirstInFirstOutWithOptionalPayloads)
{
    AppExitFlags flags;
    EXPECT_EQ(flags.peekFlag(), AppExitFlags::kNone);
    EXPECT_FALSE(flags.frontHasPayload());

    flags.pushFlag(AppExitFlags::kRestart, Arguments{"--reset-logs"});
    flags.pushFlag(AppExitFlags::kRestart);
    flags.pushFlag(7, Arguments{"--reset-settings"});

    EXPECT_EQ(flags.peekFlag(), AppExitFlags::kRestart);
    EXPECT_TRUE(flags.frontHasPayload());
    const auto first = flags.popFlagWithPayload();
    EXPECT_EQ(first.first, AppExitFlags::kRestart);
    EXPECT_EQ(Poco::AnyCast<Arguments>(first.second), Arguments{"--reset-logs"});

    EXPECT_FALSE(flags.frontHasPayload());
    const auto second = flags.popFlagWithPayload();
    EXPECT_EQ(second.first, AppExitFlags::kRestart);
    EXPECT_TRUE(second.second.empty());

    EXPECT_EQ(flags.peekFlag(), 7);
    EXPECT_TRUE(flags.frontHasPayload());
    EXPECT_EQ(flags.popFlag(), 7);
    EXPECT_EQ(flags.peekFlag(), AppExitFlags::kNone);
}

TEST(AppExitFlags, PoppingAnEmptyQueueThrows)
{
    AppExitFlags flags;
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            attempt == 0 ? flags.popFlag() : flags.popFlagWithPayload().first;
            ADD_FAILURE() << attempt;
        } catch (const AppExitFlags::EmptyQueueException& e) {
            EXPECT_EQ(std::string(e.what()), "There are no flags in queue!");
        }
    }
}

} // namespace
