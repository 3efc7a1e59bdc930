#pragma once

#include "core/rest/RestTypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fv_transfers {

// The summary a new bucket has always been given when the caller names none.
inline constexpr const char* kDefaultBucketSummary = "Test";

struct LoginResult {
    std::string token;
    uint64_t tokenExpires = 0; // 0 when the service gives no expiry
};

struct LoginToken {
    std::string token;
    uint64_t expiry = 0;
};

struct BucketInitResult {
    std::string token;
    uint64_t tokenExpires = 0;
    std::string bucketId;
};

struct NewFileDesc {
    std::string name; // UTF-8
    uint64_t size = 0;
    uint64_t createdMs = 0; // ms since 1970 UTC
    uint64_t modifiedMs = 0;
};

struct AddFilesParams {
    std::string loginToken;
    uint64_t loginTokenExpiry = 0;
    std::string bucketId;
    std::string bucketToken;
    std::vector<NewFileDesc> files;
};

struct AddedFileDetails {
    std::string fileId;
    std::string uploadUrl;
    RestHeaderList headers;
    uint64_t expires = 0;
};

} // namespace fv_transfers
