#pragma once

#include "core/rest/RestTypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fv_transfers {

// The "uploader" of every upload-side request.
inline constexpr const char* kRestUploaderName = "DESKTOP";
// The error "type" with which the service refuses a file for good.
inline constexpr const char* kFileStatusExceptionType = "ferrovan.service.bucket.FileStatusException";

// The bucket's state at the service; 0 for a text this client does not know.
enum BucketStatus : int {
    BUCKET_STATUS_UNKNOWN = 0,
    BUCKET_STATUS_INITIALIZED = 1,
    BUCKET_STATUS_EDITING = 2,
    BUCKET_STATUS_COMPLETED = 3,
    BUCKET_STATUS_EXPIRED = 4,
    BUCKET_STATUS_DELETED = 5,
    BUCKET_STATUS_ARCHIVED = 6,
};

// A file's state as the client reports it; other values are refused before sending.
enum RestFileStatus : int {
    REST_FILE_INITIALIZED = 0,
    REST_FILE_UPLOADING = 1,
    REST_FILE_SYNCING = 2,
    REST_FILE_COMPLETED = 3,
    REST_FILE_CANCELLED = 4,
    REST_FILE_DELETED = 5,
    REST_FILE_EXPIRED = 6,
};

// The wire texts; null / BUCKET_STATUS_UNKNOWN outside the enumerations.
const char* restFileStatusText(int status);
BucketStatus bucketStatusFromText(const std::string& text);

struct FileRequestParams {
    std::string bucketId;
    std::string fileId;
    std::string token;
};

struct FileCallParams {
    std::string fileId;
    std::string bucketId;
    std::string bucketToken;
};

struct UploadDetailsRequestParams : FileCallParams {
    std::string md5Digest; // Base64 of the MD5; empty: sent as null
    uint64_t fileSize = 0;
};

struct FileStatusRequestParams : FileCallParams {
    uint64_t progress = 0;
    RestFileStatus status = REST_FILE_UPLOADING;
};

struct MultiPartRequestParams : FileCallParams {
    std::string uploadId; // empty: not known yet, sent as null
};

struct MultiPartCompleteParams : MultiPartRequestParams {
    uint32_t numberOfParts = 0;
};

struct PartDesc {
    uint32_t number = 0;
    uint64_t size = 0;
    std::string md5Digest; // empty: sent as null
};

struct MultiPartInitParams : MultiPartRequestParams {
    std::string md5Digest; // of the whole file; empty: sent as null
    uint64_t fileSize = 0;
    std::vector<PartDesc> parts;
};

struct BucketStatusInfo {
    uint64_t created = 0; // ms since 1970, as the service sends it; 0 when unknown
    // False when the answer gave no creation time: the bucket's age is unknown, and nothing
    // may be decided on it.
    bool createdKnown = false;
    BucketStatus status = BUCKET_STATUS_UNKNOWN;
    bool uploadAllowed = true;
};

struct RestDownloadDetails {
    std::string multipartManifestUrl; // empty when the file has none
    std::string url;
    std::string md5Digest;
    uint64_t expires = 0;
};

struct FileUploadDetails {
    bool errorTypeReceived = false;
    bool fileStatusException = false;
    std::string url;
    RestHeaderList headers; // replayed on the upload PUT
    uint64_t expires = 0;
};

struct PartUploadDetails {
    std::string url;
    uint64_t expires = 0;
    RestHeaderList headers;
    int number = 0;
};

struct MultiPartInitResult {
    std::string uploadId;
    std::vector<PartUploadDetails> parts; // one per requested part, by ascending number
};

} // namespace fv_transfers
