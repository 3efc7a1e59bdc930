#include "upload/UploadPlan.h"

#include <algorithm>

namespace fv_transfers {

std::uint64_t effectiveMinMultipartSize(std::uint64_t minMultipartSize)
{
    return minMultipartSize == 0 ? kDefaultMinMultipartSize : minMultipartSize;
}

bool isMultipartUpload(std::uint64_t fileSize, std::uint64_t minMultipartSize)
{
    return fileSize > effectiveMinMultipartSize(minMultipartSize);
}

std::vector<UploadPart> planUploadParts(std::uint64_t fileSize, std::uint64_t minMultipartSize)
{
    if (!isMultipartUpload(fileSize, minMultipartSize))
        return {UploadPart{1, 0, fileSize}};
    std::uint64_t partSize = effectiveMinMultipartSize(minMultipartSize);
    if ((fileSize + partSize - 1) / partSize > kMaxUploadParts)
        partSize = (fileSize + kMaxUploadParts - 1) / kMaxUploadParts;
    std::vector<UploadPart> parts;
    std::uint32_t number = 1;
    for (std::uint64_t offset = 0; offset < fileSize; offset += partSize, ++number)
        parts.push_back(UploadPart{number, offset, std::min(partSize, fileSize - offset)});
    return parts;
}

bool uploadPartsTile(std::vector<UploadPart> parts, std::uint64_t size)
{
    if (parts.empty())
        return false;
    std::sort(parts.begin(), parts.end(), [](const UploadPart& a, const UploadPart& b) { return a.offset < b.offset; });
    if (size == 0)
        return parts.size() == 1 && parts[0].offset == 0 && parts[0].size == 0;
    std::uint64_t next = 0;
    for (const UploadPart& part : parts) {
        if (part.offset != next || part.size == 0 || part.size > size - next)
            return false;
        next += part.size;
    }
    return next == size;
}

} // namespace fv_transfers
