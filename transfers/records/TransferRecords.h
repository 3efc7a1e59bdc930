#pragma once

#include <cstdint>
#include <string>

namespace fv_transfers {

// The records a transfer is described by. The managers export them under their own names
// (CUploadManager::FileDesc, CDownloadManager::FileDownloadDetails...); they live here so the
// bucket client and the database can use them without depending on the managers.

// One file to upload.
struct UploadFileDesc {
    std::string fileUid;
    std::wstring fileUrl; // a local file URL
};

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

} // namespace fv_transfers
