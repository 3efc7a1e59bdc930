#include "download/DownloadPlan.h"

#include <algorithm>

namespace fv_transfers {

namespace {

std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b)
{
    return a / b + (a % b != 0 ? 1 : 0);
}

bool manifestFits(const DownloadManifest& manifest, std::uint64_t fileSize)
{
    if (manifest.parts.empty())
        return false;
    std::uint64_t total = 0;
    for (const ManifestPart& part : manifest.parts) {
        if (part.size > fileSize - total)
            return false;
        total += part.size;
    }
    return total == fileSize;
}

std::vector<PlannedRange> planFromManifest(const DownloadManifest& manifest)
{
    std::vector<ManifestPart> parts = manifest.parts;
    std::sort(parts.begin(), parts.end(),
              [](const ManifestPart& a, const ManifestPart& b) { return a.number < b.number; });
    std::vector<PlannedRange> ranges;
    std::uint64_t offset = 0;
    for (const ManifestPart& part : parts) {
        ranges.push_back({offset, part.size, part.eTag});
        offset += part.size;
    }
    return ranges;
}

std::vector<PlannedRange> planGeneric(std::uint64_t fileSize, std::uint64_t partSize)
{
    std::uint64_t part = partSize == 0 ? kDefaultPartSize : partSize;
    if (ceilDiv(fileSize, part) > kMaxPlannedRanges)
        part = ceilDiv(fileSize, kMaxPlannedRanges);
    // Counted after the part size is final, so no range starts past the end.
    const std::uint64_t count = std::max<std::uint64_t>(1, ceilDiv(fileSize, part));
    std::vector<PlannedRange> ranges;
    ranges.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t offset = i * part;
        ranges.push_back({offset, std::min(part, fileSize - offset), ""});
    }
    return ranges;
}

} // namespace

std::vector<PlannedRange> planDownloadRanges(std::uint64_t fileSize, const std::string& md5Digest,
                                             const DownloadManifest* manifest, std::uint64_t partSize)
{
    if (manifest && manifestFits(*manifest, fileSize))
        return planFromManifest(*manifest);
    if (!manifest && !md5Digest.empty() && md5Digest.find('-') == std::string::npos)
        return {PlannedRange{0, fileSize, md5Digest}};
    return planGeneric(fileSize, partSize);
}

bool rangesTile(std::vector<PlannedRange> ranges, std::uint64_t size)
{
    if (size == 0)
        return ranges.size() == 1 && ranges[0].offset == 0 && ranges[0].size == 0;
    std::sort(ranges.begin(), ranges.end(),
              [](const PlannedRange& a, const PlannedRange& b) { return a.offset < b.offset; });
    std::uint64_t next = 0;
    for (const PlannedRange& range : ranges) {
        if (range.offset != next || range.size == 0 || range.size > size - next)
            return false;
        next += range.size;
    }
    return next == size;
}

} // namespace fv_transfers
