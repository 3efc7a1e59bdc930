#include "core/base/StringConversion.h"
#include "core/files/FileDigest.h"
#include "core/files/linux/FilePosix.h"
#include "support/fixtures/TestEnvironment.h"

#include <gtest/gtest.h>

#include <Poco/MD5Engine.h>

#include <cstdint>
#include <limits>
#include <string>
#include <unistd.h>

using fv_transfers::calculateFileMd5Digest;
using fv_transfers::calculateFileMd5Hex;
using fv_transfers::utf8ToWide;

namespace {

const char kFox[] = "The quick brown fox jumps over the lazy dog"; // 43 bytes
const char kMd5OfNothing[] = "d41d8cd98f00b204e9800998ecf8427e";

} // namespace

TEST(FileDigest, Md5OfRanges)
{
    struct Case {
        std::uint64_t offset;
        std::uint64_t length;
        const char* md5; // null: must fail
    };
    const Case cases[] = {
        {0, 0, "9e107d9d372bb6826bd81d3542a419d6"}, // 0 and 0: the whole file
        {0, 43, "9e107d9d372bb6826bd81d3542a419d6"},
        {4, 5, "1df3746a4728276afdc24f828186f73a"},    // "quick"
        {40, 100, "06d80eb0c50b49a509b49f2424e8c805"}, // a length past the end stops there: "dog"
        {41, 0, "5bc3c1d52024c150581c7651627304b7"},   // length 0 from an offset: to the end, "og"
        {43, 0, kMd5OfNothing},                        // offset at the end: nothing to digest
        {43, 7, kMd5OfNothing},
        {44, 0, nullptr}, // past the end
        {1000, 5, nullptr},
        {std::numeric_limits<std::uint64_t>::max(), 1, nullptr},
    };
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("fox.txt"), kFox);
    for (const Case& c : cases) {
        std::string md5 = "untouched";
        const bool ok = calculateFileMd5Hex(md5, utf8ToWide(dir.file("fox.txt")), c.offset, c.length);
        EXPECT_EQ(c.md5 != nullptr, ok) << c.offset << "+" << c.length;
        EXPECT_EQ(c.md5 ? c.md5 : "untouched", md5) << c.offset << "+" << c.length;
    }
}

TEST(FileDigest, EmptyAndMissingFiles)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("empty"), "");
    std::string md5;
    EXPECT_TRUE(calculateFileMd5Hex(md5, utf8ToWide(dir.file("empty")), 0, 0));
    EXPECT_EQ(kMd5OfNothing, md5);

    EXPECT_FALSE(calculateFileMd5Hex(md5, utf8ToWide(dir.file("missing")), 0, 0));
    Poco::DigestEngine::Digest digest;
    EXPECT_FALSE(calculateFileMd5Digest(digest, utf8ToWide(dir.file("missing"))));
    EXPECT_FALSE(calculateFileMd5Hex(md5, L"", 0, 0));
}

TEST(FileDigest, RangeBeyondTwoGiB)
{
    fv_test::TempDir dir;
    const std::string path = dir.file("sparse 😀.bin");
    fv_test::writeFile(path, "");
    ASSERT_EQ(0, ::truncate(path.c_str(), static_cast<off_t>(3ull << 30)));
    std::string md5;
    ASSERT_TRUE(calculateFileMd5Hex(md5, utf8ToWide(path), 5ull << 29, 1 << 20));
    EXPECT_EQ("b6d81b360a5672d80c27430f39153e2c", md5); // 1 MiB of zeros
}

TEST(FileDigest, AShortReadIsAnError)
{
    // The file holds fewer bytes than its size said when the range was planned (it shrank).
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("f"), kFox);
    fv_transfers::CFilePosix file;
    ASSERT_TRUE(file.open(dir.file("f"), false));
    Poco::MD5Engine md5;
    EXPECT_FALSE(fv_transfers::updateDigestFromFile(md5, file, 100, 0, 0));
    ASSERT_TRUE(file.seek(0));
    EXPECT_FALSE(fv_transfers::updateDigestFromFile(md5, file, 100, 40, 10));
}

TEST(FileDigest, ASeekFailureIsAnError)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("f"), kFox);
    fv_transfers::CFilePosix file;
    ASSERT_TRUE(file.open(dir.file("f"), false));
    const std::uint64_t huge = std::numeric_limits<std::uint64_t>::max();
    Poco::MD5Engine md5;
    EXPECT_FALSE(fv_transfers::updateDigestFromFile(md5, file, huge, huge - 1, 1));
    file.close();
    EXPECT_FALSE(fv_transfers::updateDigestFromFile(md5, file, 43, 4, 5)); // nothing open to seek in
}

TEST(FileDigest, DigestBytesAndTheirBase64)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("fox.txt"), kFox);
    Poco::DigestEngine::Digest digest;
    ASSERT_TRUE(calculateFileMd5Digest(digest, utf8ToWide(dir.file("fox.txt"))));
    EXPECT_EQ("9e107d9d372bb6826bd81d3542a419d6", Poco::DigestEngine::digestToHex(digest));
    std::string encoded;
    ASSERT_TRUE(fv_transfers::base64Encode(digest, encoded));
    EXPECT_EQ("nhB9nTcrtoJr2B01QqQZ1g==", encoded);
}

TEST(FileDigest, Base64StaysOnOneLine)
{
    std::string encoded;
    EXPECT_FALSE(fv_transfers::base64Encode({}, encoded));
    ASSERT_TRUE(fv_transfers::base64Encode(std::vector<unsigned char>(300, 0xFF), encoded));
    EXPECT_EQ(400u, encoded.size());
    EXPECT_EQ(std::string::npos, encoded.find_first_of("\r\n"));
}
