#pragma once

#include "db/DbTable.h"
#include "records/TransferRecords.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace fv_transfers {

// The download files: table DownloadFilesDictionary, one row per file being downloaded.
class CDownloadFilesDbInfo : public CDbTable {
public:
    struct FileInfo {
        FileDownloadDetails details;
        std::int32_t ParentGroupId = 0;
        std::wstring TmpFileName;
    };

    explicit CDownloadFilesDbInfo(std::shared_ptr<CDbConnection> connection);

    // A file already stored is replaced: the newest description, group and temporary file count.
    bool insert(const FileDownloadDetails& details, std::int32_t parentGroupId, const std::wstring& tmpFileName);
    // Replaces `files` with every stored row (NULL columns read as empty or 0); on failure
    // `files` is left empty.
    bool selectAll(std::vector<FileInfo>& files);
    bool removeByFileUid(const std::string& fileUid);
    // All or nothing; an empty set runs nothing.
    bool removeByFileUids(const std::set<std::string>& fileUids);
    // The same for those of the files that have no stored group when the rows are deleted.
    bool removeOrphansByFileUids(const std::set<std::string>& fileUids);
    bool updateDirectUrl(const std::string& fileUid, const std::string& url, std::uint64_t expires);
};

} // namespace fv_transfers
