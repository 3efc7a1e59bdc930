#include "core/StringConversion.h"
#include "core/linux/FileAttributesModifierLinux.h"
#include "support/TestEnvironment.h"

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

} // namespace

TEST(FileAttributesModifier, SetsModificationTimeToTheMillisecond)
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
    fv_test::TempDir dir;
    const std::string path = dir.file("Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80.txt");
    fv_test::writeFile(path, "x");
    CFileAttributesModifierLinux modifier;
    ASSERT_TRUE(modifier.open(utf8ToWide(path)));
    for (const Case& c : cases) {
        ASSERT_TRUE(modifier.setModificationTime(c.ms)) << c.ms;
        const struct stat info = statOf(path);
        EXPECT_EQ(c.seconds, info.st_mtim.tv_sec) << c.ms;
        EXPECT_EQ(c.nanoseconds, info.st_mtim.tv_nsec) << c.ms;
        EXPECT_EQ(c.seconds, info.st_atim.tv_sec) << c.ms;
        EXPECT_EQ(c.nanoseconds, info.st_atim.tv_nsec) << c.ms;
    }
}

TEST(FileAttributesModifier, CreationTimeIsAcceptedAndChangesNothing)
{
    fv_test::TempDir dir;
    const std::string path = dir.file("f");
    fv_test::writeFile(path, "x");
    CFileAttributesModifierLinux modifier;
    ASSERT_TRUE(modifier.open(utf8ToWide(path)));
    ASSERT_TRUE(modifier.setModificationTime(1500));
    EXPECT_TRUE(modifier.setCreationTime(2208988800123ull));
    const struct stat info = statOf(path);
    EXPECT_EQ(1, info.st_mtim.tv_sec);
    EXPECT_EQ(500000000, info.st_mtim.tv_nsec);
}

TEST(FileAttributesModifier, FailsWithoutAnExistingOpenFile)
{
    fv_test::TempDir dir;
    CFileAttributesModifierLinux modifier;
    EXPECT_FALSE(modifier.open(L""));
    EXPECT_FALSE(modifier.open(utf8ToWide(dir.file("missing"))));
    EXPECT_FALSE(modifier.setModificationTime(1500));
    EXPECT_FALSE(modifier.setCreationTime(1500));

    fv_test::writeFile(dir.file("f"), "x");
    ASSERT_TRUE(modifier.open(utf8ToWide(dir.file("f"))));
    modifier.close();
    EXPECT_FALSE(modifier.setModificationTime(1500));
    EXPECT_FALSE(modifier.setCreationTime(1500));
}

TEST(FileAttributesModifier, ReportsAFileRemovedAfterOpen)
{
    fv_test::TempDir dir;
    const std::string path = dir.file("f");
    fv_test::writeFile(path, "x");
    CFileAttributesModifierLinux modifier;
    ASSERT_TRUE(modifier.open(utf8ToWide(path)));
    ASSERT_EQ(0, ::unlink(path.c_str()));
    EXPECT_FALSE(modifier.setModificationTime(1500));
}
