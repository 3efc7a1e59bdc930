#include "core/rest/TransferRestRecords.h"

namespace fv_transfers {

namespace {

const char* const kFileStatusTexts[] = {"INITIALIZED", "UPLOADING", "SYNCING", "COMPLETED",
                                        "CANCELLED",   "DELETED",   "EXPIRED"};
const char* const kBucketStatusTexts[] = {"INITIALIZED", "EDITING", "COMPLETED", "EXPIRED", "DELETED", "ARCHIVED"};

} // namespace

const char* restFileStatusText(int status)
{
    if (status < REST_FILE_INITIALIZED || status > REST_FILE_EXPIRED)
        return nullptr;
    return kFileStatusTexts[status];
}

BucketStatus bucketStatusFromText(const std::string& text)
{
    for (int i = 0; i < 6; ++i) {
        if (text == kBucketStatusTexts[i])
            return static_cast<BucketStatus>(BUCKET_STATUS_INITIALIZED + i);
    }
    return BUCKET_STATUS_UNKNOWN;
}

} // namespace fv_transfers
