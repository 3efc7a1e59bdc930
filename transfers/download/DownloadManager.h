#pragma once

#include "core/base/FvTransfersExport.h"
#include "framework/TransferManagerBase.h"

#include <cstdint>
#include <string>

namespace fv_transfers {

// The exported download manager. Its records are what the main program fills and receives.
class FV_TRANSFERS_API CDownloadManager : public CTransferManagerBase {
public:
    // The direct address of a file's content, when the caller already knows it.
    struct DownloadDetails {
        std::string url;           // may be empty
        std::uint64_t expires = 0; // when the url stops being valid
    };

    // One file to download.
    struct FileDownloadDetails {
        std::string id;    // the service's file uid
        std::wstring path; // local destination path
        std::uint64_t size = 0;
        std::uint64_t modified = 0; // the time the finished file is given
        std::string md5Digest;      // hex; may be empty
        DownloadDetails downloadDetails;
    };
};

} // namespace fv_transfers
