#pragma once

#include "download/ManifestFileParser.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fv_transfers {

// One byte range of a file, downloaded by one channel.
struct PlannedRange {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::string md5; // hex; empty: not checked
};

constexpr std::uint64_t kDefaultPartSize = 52428800;
constexpr std::uint64_t kMaxPlannedRanges = 1000;

// The ranges of a file, tiling [0, size) in order. A manifest whose parts add up to the size
// gives one range per part in part-number order, each checked against its eTag; a plain MD5 (no
// "-": a single-part upload) gives one range checked against it; otherwise the file is cut into
// parts of `partSize` (the default when 0), at most kMaxPlannedRanges of them, unchecked. A
// zero-byte file has one empty range.
std::vector<PlannedRange> planDownloadRanges(std::uint64_t fileSize, const std::string& md5Digest,
                                             const DownloadManifest* manifest, std::uint64_t partSize);

// Whether the ranges, taken in offset order, cover [0, size) exactly once, each non-empty
// (a zero-byte file: exactly one empty range at 0).
bool rangesTile(std::vector<PlannedRange> ranges, std::uint64_t size);

} // namespace fv_transfers
