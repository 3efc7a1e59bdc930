#pragma once

#include "db/DbTable.h"
#include "records/TransferRecords.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace fv_transfers {

// The upload files: table FilesDictionary, one row per file of an upload group.
class CFilesDbInfo : public CDbTable {
public:
    struct FileInfo {
        std::string FileUid;
        std::wstring FileLocalUri;
        std::int32_t ParentGroupId = 0;
        std::string UploadId;
        bool Completed = false;
        std::int64_t LastModified = 0; // seconds since 1970
        std::int64_t FileSize = kUnknownFileSize;
    };

    // The size of files stored before sizes were; their stored channels' sum stands in.
    static constexpr std::int64_t kUnknownFileSize = -1;

    // Creates the table; a table of the older layout gains FileSize in one transaction, its rows
    // reading kUnknownFileSize.
    explicit CFilesDbInfo(std::shared_ptr<CDbConnection> connection);

    // A file already stored is replaced: the newest description (group, path) is the one that
    // counts, with a fresh upload id and completion. So a caller inserts only when `exists`
    // succeeded and said absent, and otherwise updates the row.
    bool insert(const UploadFileDesc& file, std::int32_t parentGroupId, std::int64_t fileSize = kUnknownFileSize,
                std::int64_t lastModified = 0);
    // Replaces `files` with every stored row; on failure `files` is left empty.
    bool selectAll(std::vector<FileInfo>& files);
    bool removeByFileUid(const std::string& fileUid);
    // All or nothing; an empty set runs nothing.
    bool removeByFileUids(const std::set<std::string>& fileUids);
    // The same for those of the files that have no stored group when the rows are deleted.
    bool removeOrphansByFileUids(const std::set<std::string>& fileUids);
    bool updateUploadId(const std::string& fileUid, const std::string& uploadId);
    bool setCompleted(const std::string& fileUid);
    bool updateLastModified(const std::string& fileUid, std::int64_t lastModified);
    // Both halves of the unchanged-file check at once, so no reader sees one without the other.
    // False also when no row has that id.
    bool updateSizeAndLastModified(const std::string& fileUid, std::int64_t fileSize, std::int64_t lastModified);
    // `lastModified` becomes 0 when no row has that id; it is untouched when the read failed.
    bool getLastModified(const std::string& fileUid, std::int64_t& lastModified);
    // `present` is only meaningful when the result is true.
    bool exists(const std::string& fileUid, bool& present);
};

} // namespace fv_transfers
