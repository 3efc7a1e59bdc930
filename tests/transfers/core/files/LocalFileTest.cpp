#include "core/files/linux/FilePosix.h"
#include "support/fixtures/TestEnvironment.h"

#include <gtest/gtest.h>

#include <Poco/File.h>

#include <cstdint>
#include <limits>
#include <string>
#include <unistd.h>

using fv_transfers::CFilePosix;

namespace {

std::string readAll(CFilePosix& file, int chunk)
{
    std::string content;
    std::string buffer(static_cast<size_t>(chunk), '\0');
    int count = 0;
    while (file.read(buffer.data(), chunk, count))
        content.append(buffer, 0, static_cast<size_t>(count));
    return content;
}

} // namespace

TEST(LocalFile, MissingFileFailsInBothModesAndIsNotCreated)
{
    fv_test::TempDir dir;
    const std::string missing = dir.file("missing.bin");
    for (const bool writable : {false, true}) {
        CFilePosix file;
        EXPECT_FALSE(file.open(missing, writable));
        EXPECT_FALSE(file.open("", writable));
    }
    EXPECT_FALSE(Poco::File(missing).exists());
}

TEST(LocalFile, ClosedFileRefusesEveryOperation)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("f"), "abc");
    CFilePosix file;
    ASSERT_TRUE(file.open(dir.file("f"), true));
    file.close();
    file.close();
    char buffer[4];
    int count = 0;
    EXPECT_FALSE(file.read(buffer, 4, count));
    EXPECT_FALSE(file.write("x", 1));
    EXPECT_FALSE(file.seek(0));
}

TEST(LocalFile, RefusesEmptyAndNullTransfers)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("f"), "abc");
    CFilePosix file;
    ASSERT_TRUE(file.open(dir.file("f"), true));
    char buffer[4];
    int count = 0;
    EXPECT_FALSE(file.read(nullptr, 4, count));
    EXPECT_FALSE(file.read(buffer, 0, count));
    EXPECT_FALSE(file.read(buffer, -1, count));
    EXPECT_FALSE(file.write(nullptr, 1));
    EXPECT_FALSE(file.write("x", 0));
    EXPECT_FALSE(file.write("x", -5));
    file.close();
    EXPECT_EQ("abc", fv_test::readFile(dir.file("f")));
}

TEST(LocalFile, ReadsShortCountsThenStopsAtTheEnd)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("f"), "0123456789");
    CFilePosix file;
    ASSERT_TRUE(file.open(dir.file("f"), false));
    EXPECT_EQ("0123456789", readAll(file, 4));
    ASSERT_TRUE(file.seek(7));
    char buffer[8];
    int count = 0;
    ASSERT_TRUE(file.read(buffer, 8, count));
    EXPECT_EQ("789", std::string(buffer, static_cast<size_t>(count)));
    EXPECT_FALSE(file.read(buffer, 8, count));
    EXPECT_FALSE(file.write("x", 1)); // opened for reading only
}

TEST(LocalFile, MixesReadsAndWritesInPlace)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("f"), "0123456789");
    {
        CFilePosix file;
        ASSERT_TRUE(file.open(dir.file("f"), true));
        ASSERT_TRUE(file.seek(3));
        ASSERT_TRUE(file.write("abc", 3));
        char buffer[3];
        int count = 0;
        ASSERT_TRUE(file.read(buffer, 3, count)); // straight after a write, no seek between
        EXPECT_EQ("678", std::string(buffer, static_cast<size_t>(count)));
        ASSERT_TRUE(file.write("XYZ", 3)); // straight after a read, extends the file
    }
    EXPECT_EQ("012abc678XYZ", fv_test::readFile(dir.file("f")));
}

TEST(LocalFile, SeeksBeyondTwoGiB)
{
    fv_test::TempDir dir;
    const std::string path = dir.file("sparse.bin");
    fv_test::writeFile(path, "");
    const std::uint64_t threeGiB = 3ull << 30;
    const std::uint64_t at = 5ull << 29; // 2.5 GiB
    ASSERT_EQ(0, ::truncate(path.c_str(), static_cast<off_t>(threeGiB)));
    {
        CFilePosix file;
        ASSERT_TRUE(file.open(path, true));
        ASSERT_TRUE(file.seek(at));
        ASSERT_TRUE(file.write("marker", 6));
    }
    CFilePosix file;
    ASSERT_TRUE(file.open(path, false));
    ASSERT_TRUE(file.seek(at - 2));
    char buffer[10];
    int count = 0;
    ASSERT_TRUE(file.read(buffer, 10, count));
    EXPECT_EQ(std::string("\0\0marker\0\0", 10), std::string(buffer, static_cast<size_t>(count)));
    EXPECT_EQ(threeGiB, Poco::File(path).getSize());
    EXPECT_FALSE(file.seek(std::numeric_limits<std::uint64_t>::max()));
}
