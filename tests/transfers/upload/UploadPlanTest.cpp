#include "upload/UploadPlan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace fv_transfers;

namespace {

constexpr std::uint64_t MiB = 1024 * 1024;
constexpr std::uint64_t GiB = 1024 * MiB;

} // namespace

TEST(UploadPlan, PartsTileTheFileNumberedFromOneWithTheLastTakingTheRemainder)
{
    struct Case {
        std::string name;
        std::uint64_t size;
        std::uint64_t minMultipart;
        bool multipart;
        std::size_t count;
        std::uint64_t partSize; // of every part but the last
        std::uint64_t lastSize;
    };
    const std::uint64_t sixGiB = 6 * GiB;
    const std::uint64_t sixGiBPart = (sixGiB + 999) / 1000;
    const Case cases[] = {
        {"exactly the minimum goes in one PUT", 5 * MiB, 5 * MiB, false, 1, 5 * MiB, 5 * MiB},
        {"one byte more makes a one-byte last part", 5 * MiB + 1, 5 * MiB, true, 2, 5 * MiB, 1},
        {"0 means the default minimum", 52428800, 0, false, 1, 52428800, 52428800},
        {"above the default minimum", 52428801, 0, true, 2, 52428800, 1},
        {"an empty file is one empty part", 0, 0, false, 1, 0, 0},
        {"even division", 15 * MiB, 5 * MiB, true, 3, 5 * MiB, 5 * MiB},
        {"more than 1000 parts grow the part size", sixGiB, 5 * MiB, true, 1000, sixGiBPart, sixGiB - 999 * sixGiBPart},
        {"exactly 1000 parts keep the minimum", 1000 * MiB, MiB, true, 1000, MiB, MiB},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.multipart, isMultipartUpload(c.size, c.minMultipart)) << c.name;
        const std::vector<UploadPart> parts = planUploadParts(c.size, c.minMultipart);
        ASSERT_EQ(c.count, parts.size()) << c.name;
        EXPECT_TRUE(uploadPartsTile(parts, c.size)) << c.name;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            EXPECT_EQ(i + 1, parts[i].number) << c.name << " part " << i;
            EXPECT_EQ(i * c.partSize, parts[i].offset) << c.name << " part " << i;
            EXPECT_EQ(i + 1 == parts.size() ? c.lastSize : c.partSize, parts[i].size) << c.name << " part " << i;
        }
    }
}

TEST(UploadPlan, TilingRefusesGapsOverlapsEmptyPartsAndAWrongEnd)
{
    struct Case {
        std::string name;
        std::vector<UploadPart> parts;
        std::uint64_t size;
        bool tiles;
    };
    const Case cases[] = {
        {"in any order", {{2, 10, 5}, {1, 0, 10}}, 15, true},
        {"gap", {{1, 0, 10}, {2, 11, 4}}, 15, false},
        {"overlap", {{1, 0, 10}, {2, 9, 6}}, 15, false},
        {"short", {{1, 0, 10}}, 15, false},
        {"past the end", {{1, 0, 10}, {2, 10, 6}}, 15, false},
        {"an empty part", {{1, 0, 15}, {2, 15, 0}}, 15, false},
        {"none", {}, 0, false},
        {"an empty file", {{1, 0, 0}}, 0, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.tiles, uploadPartsTile(c.parts, c.size)) << c.name;
}
