#include "core/files/OsSafeFilenames.h"
#include "core/files/PathUnderBase.h"

#include <gtest/gtest.h>

#include <string>

using fv_transfers::joinUnderBase;

TEST(PathUnderBase, JoinsPlainRelativePaths)
{
    struct Case {
        std::string base;
        std::string relative;
        std::string expected;
    };
    const Case cases[] = {
        {"/dl", "a.txt", "/dl/a.txt"}, {"/dl/", "a/b.txt", "/dl/a/b.txt"},
        {"/dl", "sub/", "/dl/sub/"},   {"/", "x", "/x"},
        {"/dl", "...", "/dl/..."},     {"/dl", "..x/.y", "/dl/..x/.y"},
    };
    for (const Case& c : cases) {
        std::string out;
        EXPECT_TRUE(joinUnderBase(c.base, c.relative, out)) << c.relative;
        EXPECT_EQ(c.expected, out);
    }
}

TEST(PathUnderBase, RefusesWhatCouldLeaveTheBase)
{
    struct Case {
        std::string base;
        std::string relative;
    };
    const Case cases[] = {
        {"/dl", ""},
        {"", "a"},
        {"/dl", "/etc/passwd"},
        {"/dl", ".."},
        {"/dl", "../x"},
        {"/dl", "a/../../x"},
        {"/dl", "a/.."},
        {"/dl", "."},
        {"/dl", "a/./b"},
        {"/dl", "a//b"},
        {"/dl", std::string("a\0/../../x", 10)},
        {std::string("/dl\0/etc", 8), "x"},
    };
    for (const Case& c : cases) {
        std::string out = "untouched";
        EXPECT_FALSE(joinUnderBase(c.base, c.relative, out)) << testing::PrintToString(c.relative);
        EXPECT_EQ("untouched", out);
    }
}

TEST(PathUnderBase, QueuedDownloadPathsStayInTheDownloadFolder)
{
    const std::string queued[] = {"..\\..\\x", "C:\\Windows\\x", "\\\\host\\share\\x", "a/../../../x", "./x/", "/x"};
    for (std::string path : queued) {
        const std::string original = path;
        fv_transfers::os_safe_filenames::replaceUnsafeCharsInPath(path);
        std::string joined;
        ASSERT_TRUE(joinUnderBase("/home/u/Downloads", path, joined)) << original;
        EXPECT_EQ(0u, joined.rfind("/home/u/Downloads/", 0)) << joined;
        EXPECT_EQ(std::string::npos, joined.find("/..")) << joined;
    }
}
