#include "core/files/linux/FilePosix.h"
#include "support/fixtures/TestEnvironment.h"

#include <gtest/gtest.h>

#include <Poco/File.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <unistd.h>
#include <vector>

using fv_transfers::CFilePosix;

namespace {

constexpr std::uint64_t kGiB = 1ull << 30;

std::string readAll(CFilePosix& file, std::size_t chunk)
{
    std::string content;
    std::string buffer(chunk, '\0');
    std::size_t count = 0;
    while (file.read(buffer.data(), chunk, count))
        content.append(buffer, 0, count);
    return content;
}

std::string readAt(CFilePosix& file, std::size_t size, std::uint64_t offset)
{
    std::string buffer(size, '\0');
    std::size_t count = 0;
    EXPECT_TRUE(file.readAt(buffer.data(), size, offset, count));
    buffer.resize(count);
    return buffer;
}

// An empty file of `size` bytes that occupies no disk.
std::string sparseFile(const fv_test::TempDir& dir, std::uint64_t size)
{
    const std::string path = dir.file("sparse.bin");
    fv_test::writeFile(path, "");
    EXPECT_EQ(0, ::truncate(path.c_str(), static_cast<off_t>(size)));
    return path;
}

} // namespace

TEST(LocalFile, MissingFileFailsInBothModesAndIsNotCreated)
{
    fv_test::TempDir dir;
    const std::string missing = dir.file("missing.bin");
    for (const bool writable : {false, true}) {
        CFilePosix file;
        EXPECT_FALSE(file.open(missing, writable));
        EXPECT_EQ(ENOENT, file.lastError());
        EXPECT_FALSE(file.open("", writable));
    }
    EXPECT_FALSE(Poco::File(missing).exists());
}

TEST(LocalFile, ClosedFileRefusesEveryOperation)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("f"), "abc");
    CFilePosix file;
    EXPECT_EQ(0, file.lastError());
    ASSERT_TRUE(file.open(dir.file("f"), true));
    file.close();
    file.close();
    char buffer[4];
    std::size_t count = 0;
    const std::vector<std::function<bool()>> operations = {
        [&] { return file.read(buffer, 4, count); },
        [&] { return file.write("x", 1); },
        [&] { return file.seek(0); },
        [&] { return file.readAt(buffer, 4, 0, count); },
        [&] { return file.writeAt("x", 1, 0); },
        [&] { return file.sync(); },
    };
    for (std::size_t i = 0; i < operations.size(); ++i) {
        EXPECT_FALSE(operations[i]()) << "operation " << i;
        EXPECT_EQ(EBADF, file.lastError()) << "operation " << i;
    }
    EXPECT_EQ("abc", fv_test::readFile(dir.file("f")));
}

TEST(LocalFile, RefusesEmptyAndNullTransfers)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("f"), "abc");
    CFilePosix file;
    ASSERT_TRUE(file.open(dir.file("f"), true));
    char buffer[4];
    std::size_t count = 0;
    const std::vector<std::function<bool()>> operations = {
        [&] { return file.read(nullptr, 4, count); },
        [&] { return file.read(buffer, 0, count); },
        [&] { return file.write(nullptr, 1); },
        [&] { return file.write("x", 0); },
        [&] { return file.readAt(nullptr, 4, 0, count); },
        [&] { return file.readAt(buffer, 0, 0, count); },
        [&] { return file.writeAt(nullptr, 1, 0); },
        [&] { return file.writeAt("x", 0, 0); },
    };
    for (std::size_t i = 0; i < operations.size(); ++i) {
        EXPECT_FALSE(operations[i]()) << "operation " << i;
        EXPECT_EQ(EINVAL, file.lastError()) << "operation " << i;
    }
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
    std::size_t count = 0;
    ASSERT_TRUE(file.read(buffer, 8, count));
    EXPECT_EQ("789", std::string(buffer, count));
    EXPECT_FALSE(file.read(buffer, 8, count));
    EXPECT_EQ(0, file.lastError());   // the end of the file is no failure
    EXPECT_FALSE(file.write("x", 1)); // opened for reading only
    EXPECT_EQ(EBADF, file.lastError());
}

TEST(LocalFile, PositionalReadsGiveShortCountsAndZeroAtTheEnd)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("f"), "0123456789");
    CFilePosix file;
    ASSERT_TRUE(file.open(dir.file("f"), false));
    EXPECT_EQ("2345", readAt(file, 4, 2));
    EXPECT_EQ("789", readAt(file, 8, 7));
    EXPECT_EQ("", readAt(file, 8, 10));
    EXPECT_EQ("", readAt(file, 8, 5 * kGiB));
    EXPECT_EQ(0, file.lastError());
    // The stream position is untouched by them.
    EXPECT_EQ("0123456789", readAll(file, 3));
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
        std::size_t count = 0;
        ASSERT_TRUE(file.read(buffer, 3, count)); // straight after a write, no seek between
        EXPECT_EQ("678", std::string(buffer, count));
        ASSERT_TRUE(file.writeAt("--", 2, 0)); // does not move the position
        ASSERT_TRUE(file.write("XYZ", 3));     // straight after a read, extends the file
    }
    EXPECT_EQ("--2abc678XYZ", fv_test::readFile(dir.file("f")));
}

TEST(LocalFile, SeeksBeyondTwoGiB)
{
    fv_test::TempDir dir;
    const std::uint64_t threeGiB = 3 * kGiB;
    const std::uint64_t at = 5ull << 29; // 2.5 GiB
    const std::string path = sparseFile(dir, threeGiB);
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
    std::size_t count = 0;
    ASSERT_TRUE(file.read(buffer, 10, count));
    EXPECT_EQ(std::string("\0\0marker\0\0", 10), std::string(buffer, count));
    EXPECT_EQ(threeGiB, Poco::File(path).getSize());
    EXPECT_FALSE(file.seek(std::numeric_limits<std::uint64_t>::max()));
}

TEST(LocalFile, PositionalIoBeyondFourGiB)
{
    fv_test::TempDir dir;
    const std::uint64_t at = 4 * kGiB + 3; // beyond every 32-bit offset
    const std::string path = sparseFile(dir, 5 * kGiB);
    {
        CFilePosix file;
        ASSERT_TRUE(file.open(path, true));
        ASSERT_TRUE(file.writeAt("marker", 6, at));
        ASSERT_TRUE(file.writeAt("tail", 4, 6 * kGiB)); // past the end extends the file
        ASSERT_TRUE(file.sync());
    }
    CFilePosix file;
    ASSERT_TRUE(file.open(path, false));
    EXPECT_EQ(std::string("\0\0marker\0\0", 10), readAt(file, 10, at - 2));
    EXPECT_EQ("tail", readAt(file, 100, 6 * kGiB));
    EXPECT_EQ(std::string(4, '\0'), readAt(file, 4, at - (1ull << 32))); // no wrap-around at 4 GiB
    EXPECT_EQ(6 * kGiB + 4, Poco::File(path).getSize());

    char buffer[4];
    std::size_t count = 0;
    const std::uint64_t huge = std::numeric_limits<std::uint64_t>::max();
    EXPECT_FALSE(file.readAt(buffer, 4, huge, count));
    EXPECT_EQ(EINVAL, file.lastError());
}

TEST(LocalFile, LargeWriteArrivesWholeAndInOrder)
{
    fv_test::TempDir dir;
    const std::string path = dir.file("large.bin");
    fv_test::writeFile(path, "");
    const std::uint64_t offset = 12345;
    std::string data(8u << 20, '\0');
    std::uint32_t seed = 1;
    for (char& byte : data) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<char>(seed >> 24);
    }
    CFilePosix file;
    ASSERT_TRUE(file.open(path, true));
    ASSERT_TRUE(file.writeAt(data.data(), data.size(), offset));
    ASSERT_TRUE(file.sync());
    file.close();
    const std::string stored = fv_test::readFile(path);
    ASSERT_EQ(offset + data.size(), stored.size());
    EXPECT_EQ(std::string(offset, '\0'), stored.substr(0, offset));
    EXPECT_TRUE(stored.compare(offset, std::string::npos, data) == 0);
}

TEST(LocalFile, FailedWritesTellWhy)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("f"), "abc");
    struct Case {
        const char* name;
        std::string path;
        bool writable;
        int error;
    };
    // /dev/full takes every write with ENOSPC, as a full disk does.
    const std::vector<Case> cases = {
        {"full device", "/dev/full", true, ENOSPC},
        {"read-only open", dir.file("f"), false, EBADF},
    };
    for (const Case& c : cases) {
        CFilePosix file;
        ASSERT_TRUE(file.open(c.path, c.writable)) << c.name;
        EXPECT_FALSE(file.writeAt("xyz", 3, 0)) << c.name;
        EXPECT_EQ(c.error, file.lastError()) << c.name;
        EXPECT_FALSE(file.write("xyz", 3)) << c.name;
        EXPECT_EQ(c.error, file.lastError()) << c.name;
    }
    EXPECT_EQ("abc", fv_test::readFile(dir.file("f")));

    CFilePosix file;
    ASSERT_TRUE(file.open(dir.file("f"), true));
    EXPECT_FALSE(file.writeAt("x", 1, std::numeric_limits<std::uint64_t>::max()));
    EXPECT_EQ(EFBIG, file.lastError());
}
