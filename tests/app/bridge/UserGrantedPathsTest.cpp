#include "bridge/UserGrantedPaths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ferrovan::UserGrantedPaths;

TEST(UserGrantedPaths, AFileOrAFolderAboveItIsGrantedPerPathComponent)
{
    UserGrantedPaths grants;
    ASSERT_TRUE(grants.grant("/a/b"));
    ASSERT_TRUE(grants.grant("/c/file.txt"));
    ASSERT_TRUE(grants.grant("/d//e/"));

    const std::vector<std::pair<std::string, bool>> cases{
        {"/a/b", true},
        {"/a/b/", true},
        {"/a/b/x/y.bin", true},
        {"/a//b/x", true},
        {"/a/bc", false},
        {"/a/bc/x", false},
        {"/a", false},
        {"/", false},
        {"/c/file.txt", true},
        {"/c/file.txt2", false},
        {"/c", false},
        {"/d/e/f", true},
        {"/a/b/../../etc", false},
        {"/a/b/./x", false},
        {"a/b/x", false},
        {"", false},
        {std::string("/a/b/x\0y", 8), false},
    };
    for (const auto& [path, granted] : cases)
        EXPECT_EQ(grants.isGranted(path), granted) << path;
}

TEST(UserGrantedPaths, OnlyAbsoluteNormalisedPathsCanBeGranted)
{
    UserGrantedPaths grants;
    for (const std::string refused : {"", "rel/x", "/x/../etc", "/x/./y", "./x"})
        EXPECT_FALSE(grants.grant(refused)) << refused;
    EXPECT_FALSE(grants.isGranted("/etc/hostname"));
    EXPECT_FALSE(grants.isGranted("/x/y"));

    ASSERT_TRUE(grants.grant("/"));
    EXPECT_TRUE(grants.isGranted("/etc/hostname")) << "the whole disk, when the user hands it over";
}

} // namespace
