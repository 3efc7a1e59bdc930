#pragma once

#include "core/base/DtError.h"
#include "core/base/FvTransfersExport.h"
#include "core/rest/BucketRestRecords.h"
#include "records/TransferRecords.h"

#include <cstdint>
#include <string>

namespace fv_transfers {

// Logs a user in, creates a message bucket and registers local files in it, against the REST
// endpoint of the configuration. One thread at a time; each call blocks for its exchanges.
// No call throws: failures come back as a code or an empty result, and are logged.
class FV_TRANSFERS_API CBucket {
public:
    struct UserCredentials {
        std::string userId;
        std::string password;
    };

    // Empty strings and zeros when the bucket could not be made.
    struct bucketDesc {
        std::string bucketId;
        std::string bucketToken;
        uint64_t bucketTokenExpires = 0;
        std::string loginToken;
        uint64_t loginTokenExpires = 0;
    };

    // `summary` is the new bucket's summary; empty keeps the one the service has always been
    // sent ("Test").
    CBucket(const UserCredentials& credentials, const std::string& summary);

    // Logs in with the stored credentials and keeps the login token.
    dt_error login();
    // Logs in, then creates a message bucket and keeps its id and token.
    bucketDesc init();
    // Registers the local file of a "file:" URL in the bucket: the service's file id and the
    // URL, or an empty record when the URL is not a local file, the file cannot be read, no
    // bucket was made or the service refuses.
    UploadFileDesc addFile(std::wstring fileUrl);

private:
    bucketDesc makeBucket();
    UploadFileDesc registerFile(const std::wstring& fileUrl);

    std::string m_bucketId;
    std::string m_bucketToken;
    std::string m_summary;
    UserCredentials m_credentials;
    std::string m_loginToken;
    uint64_t m_loginTokenExpires = 0;
};

} // namespace fv_transfers
