#include "core/files/TargetFileSystem.h"
#include "support/fixtures/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <sys/stat.h>

using namespace fv_transfers;
using fv_test::TempDir;

namespace {

std::string nameOf(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

// Whether `text` is valid UTF-8 (no cut sequence).
bool isUtf8(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

} // namespace

TEST(TargetFileSystem, TempNamesAreUnguessableNewFilesBesideTheFinalOne)
{
    TempDir dir;
    auto fs = createTargetFileSystem();
    const std::string finalPath = dir.file("x.bin");
    // A user's file with the old predictable name is never taken over.
    fv_test::writeFile(dir.file("x.bin.dl"), "mine");
    const mode_t mask = ::umask(022);
    ::umask(mask);
    std::set<std::string> names;
    for (int i = 0; i < 20; ++i) {
        std::string temp;
        ASSERT_EQ(0, fs->createTempFile(finalPath, temp));
        EXPECT_EQ(dir.path(), parentFolderOf(temp));
        EXPECT_TRUE(std::regex_match(nameOf(temp), std::regex(R"(x\.bin\.[a-z0-9]{8}\.dl)"))) << temp;
        struct stat info {};
        ASSERT_EQ(0, ::stat(temp.c_str(), &info));
        EXPECT_EQ(0u, static_cast<unsigned>(info.st_size));
        EXPECT_EQ(0666u & ~mask, info.st_mode & 0777u);
        names.insert(temp);
    }
    EXPECT_EQ(20u, names.size());
    EXPECT_EQ("mine", fv_test::readFile(dir.file("x.bin.dl")));
}

TEST(TargetFileSystem, LongNamesAreCutAtACharacterBoundary)
{
    struct Case {
        std::string finalName;
        std::size_t expectedBytes;
    };
    const std::string euro = "\xE2\x82\xAC"; // 3 bytes
    std::string euros;
    for (int i = 0; i < 85; ++i)
        euros += euro; // 255 bytes
    const std::vector<Case> cases = {
        {"short.txt", 9 + 12},
        {std::string(255, 'a'), 255},
        {euros, 243 + 12}, // 81 whole characters fit before the suffix
        {"a" + euros, 241 + 12},
    };
    for (const Case& c : cases) {
        const std::string name = tempFileNameFor(c.finalName, "abcd1234");
        EXPECT_EQ(c.expectedBytes, name.size()) << c.finalName;
        EXPECT_LE(name.size(), 255u);
        EXPECT_TRUE(isUtf8(name)) << c.finalName;
        EXPECT_EQ(".abcd1234.dl", name.substr(name.size() - 12));
    }
    TempDir dir;
    std::string temp;
    ASSERT_EQ(0, createTargetFileSystem()->createTempFile(dir.file(euros), temp));
    EXPECT_LE(nameOf(temp).size(), 255u);
}

TEST(TargetFileSystem, PreallocationKeepsTheSizeAndRenameReplacesAtomically)
{
    TempDir dir;
    auto fs = createTargetFileSystem();
    const std::string finalPath = dir.file("f");
    fv_test::writeFile(finalPath, "old");
    std::string temp;
    ASSERT_EQ(0, fs->createTempFile(finalPath, temp));
    ASSERT_EQ(0, fs->preallocate(temp, 1 << 20));
    EXPECT_EQ(0u, fs->status(temp).size);
    fv_test::writeFile(temp, "new");
    EXPECT_EQ("old", fv_test::readFile(finalPath));
    ASSERT_EQ(0, fs->rename(temp, finalPath));
    EXPECT_EQ(0, fs->syncFolder(dir.path()));
    ASSERT_EQ(0, fs->setModificationTime(finalPath, 1600000000123ull));
    const TargetFileStatus status = fs->status(finalPath);
    EXPECT_TRUE(status.exists);
    EXPECT_EQ(3u, status.size);
    EXPECT_EQ(1600000000123ull, status.modifiedMs);
    EXPECT_FALSE(fs->status(temp).exists);
    EXPECT_EQ("new", fv_test::readFile(finalPath));
    EXPECT_EQ(0, fs->removeFile(temp)); // gone already: not an error
    EXPECT_EQ(ENOTDIR, fs->syncFolder(finalPath));
}

TEST(TargetFileSystem, FoldersAreMadeWithTheirParents)
{
    TempDir dir;
    auto fs = createTargetFileSystem();
    ASSERT_EQ(0, fs->createFolders(dir.file("a/b/c")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("a/b/c")));
    EXPECT_EQ(0, fs->createFolders(dir.file("a/b/c")));
    EXPECT_EQ("", parentFolderOf("x"));
    EXPECT_EQ("/", parentFolderOf("/x"));
    EXPECT_EQ("/a/b", parentFolderOf("/a/b/x"));
}
