#include "core/base/StringConversion.h"
#include "core/files/linux/FileAttributesModifierLinux.h"
#include "support/fixtures/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using fv_transfers::CFileAttributesModifierLinux;
using fv_transfers::utf8ToWide;

namespace {

struct stat statOf(const std::string& path)
{
    struct stat info {};
    EXPECT_EQ(0, ::stat(path.c_str(), &info));
    return info;
}

// A modifier opened on a fresh file with a non-ASCII name.
class FileAttributesModifier : public testing::Test {
protected:
    void SetUp() override
    {
        fv_test::writeFile(path, "x");
        ASSERT_TRUE(modifier.open(utf8ToWide(path)));
    }

    fv_test::TempDir dir;
    const std::string path = dir.file("Grüße 😀.txt");
    CFileAttributesModifierLinux modifier;
};

} // namespace

TEST_F(FileAttributesModifier, SetsModificationTimeToTheMillisecond)
{
    struct Case {
        std::uint64_t ms;
        std::int64_t seconds;
        long nanoseconds;
    };
    const Case cases[] = {
        {0, 0, 0},
        {1500, 1, 500000000},
        {1700000000999ull, 1700000000, 999000000},
        {2208988800123ull, 2208988800, 123000000}, // 2040-01-01, after the 32-bit end of 2038
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(modifier.setModificationTime(c.ms)) << c.ms;
        const struct stat info = statOf(path);
        EXPECT_EQ(c.seconds, info.st_mtim.tv_sec) << c.ms;
        EXPECT_EQ(c.nanoseconds, info.st_mtim.tv_nsec) << c.ms;
        EXPECT_EQ(c.seconds, info.st_atim.tv_sec) << c.ms;
        EXPECT_EQ(c.nanoseconds, info.st_atim.tv_nsec) << c.ms;
    }
}

TEST_F(FileAttributesModifier, CreationTimeIsAcceptedAndChangesNothing)
{
    ASSERT_TRUE(modifier.setModificationTime(1500));
    EXPECT_TRUE(modifier.setCreationTime(2208988800123ull));
    const struct stat info = statOf(path);
    EXPECT_EQ(1, info.st_mtim.tv_sec);
    EXPECT_EQ(500000000, info.st_mtim.tv_nsec);
}

TEST_F(FileAttributesModifier, FailsWithoutAnExistingOpenFile)
{
    modifier.close();
    EXPECT_FALSE(modifier.setModificationTime(1500));
    EXPECT_FALSE(modifier.setCreationTime(1500));

    EXPECT_FALSE(modifier.open(L""));
    EXPECT_FALSE(modifier.open(utf8ToWide(dir.file("missing"))));
    EXPECT_FALSE(modifier.setModificationTime(1500));
    EXPECT_FALSE(modifier.setCreationTime(1500));
}

TEST_F(FileAttributesModifier, ReportsAFileRemovedAfterOpen)
{
    ASSERT_EQ(0, ::unlink(path.c_str()));
    EXPECT_FALSE(modifier.setModificationTime(1500));
}
