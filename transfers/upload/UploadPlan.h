#pragma once

#include <cstdint>
#include <vector>

namespace fv_transfers {

// One numbered byte range of a file, sent by one upload channel.
struct UploadPart {
    std::uint32_t number = 1; // from 1
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

constexpr std::uint64_t kDefaultMinMultipartSize = 52428800;
constexpr std::uint64_t kMaxUploadParts = 1000;

// The group's minimum multipart size with 0 read as the default.
std::uint64_t effectiveMinMultipartSize(std::uint64_t minMultipartSize);
// Strictly larger than the minimum: a file of exactly the minimum goes up in one PUT.
bool isMultipartUpload(std::uint64_t fileSize, std::uint64_t minMultipartSize);
// The parts of a file: one part [0, size) for a single-part upload; otherwise parts of the
// minimum size (larger when that would make more than kMaxUploadParts), the last one taking the
// remainder.
std::vector<UploadPart> planUploadParts(std::uint64_t fileSize, std::uint64_t minMultipartSize);
// Whether the parts, in offset order, cover [0, size) exactly once, each non-empty (a zero-byte
// file: one empty part at 0).
bool uploadPartsTile(std::vector<UploadPart> parts, std::uint64_t size);

} // namespace fv_transfers
