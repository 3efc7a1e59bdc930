#pragma once

#include <Poco/MD5Engine.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fv_test {

// The MD5 of each part of a content that passes through once, block by block, so a content
// of any size is digested part by part without being held.
class PartDigests {
public:
    // Parts back to back, in this order; an empty part stands for an empty content.
    explicit PartDigests(std::vector<uint64_t> partSizes);

    // Throws std::invalid_argument when the bytes run past the last part.
    void update(const char* data, size_t size);
    // Lowercase hex, one a part. Throws std::invalid_argument when the content ended before
    // the parts did.
    std::vector<std::string> finish();

private:
    void closeFullParts();

    const std::vector<uint64_t> m_partSizes;
    std::vector<std::string> m_digests;
    uint64_t m_left = 0; // bytes still due in the current part
    Poco::MD5Engine m_md5;
};

} // namespace fv_test
