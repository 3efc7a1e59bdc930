#pragma once

#include "db/DbTable.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace fv_transfers {

// The download channels: table DownloadChannelsDictionary, one row per byte range of a file,
// identified by its file and offset.
class CDownloadChannelsDbInfo : public CDbTable {
public:
    struct ChannelInfo {
        std::string FileUid;
        std::uint64_t Offset = 0;
        std::uint64_t BytesToTransfer = 0;
        std::uint32_t State = 0;
        std::string Md5;
        // The checkpoint: how many bytes from Offset on are durably in the temp file.
        std::uint64_t BytesWritten = 0;
    };

    // Creates the table; a table of the older layout gains BytesWritten in one transaction, its
    // rows reading 0.
    explicit CDownloadChannelsDbInfo(std::shared_ptr<CDbConnection> connection);

    // A range already stored at the same file and offset is replaced.
    bool insert(const ChannelInfo& channel);
    // A file's whole plan in one transaction, all or nothing: every range stored for `fileUid`
    // before is replaced by `channels`, which are stored under `fileUid` whatever their FileUid
    // says. An empty plan only removes the stored one.
    bool insertPlan(const std::string& fileUid, const std::vector<ChannelInfo>& channels);
    // Replaces `channels` with every stored row, in stored order (NULL columns read as empty or
    // 0); on failure `channels` is left empty.
    bool selectAll(std::vector<ChannelInfo>& channels);
    bool removeByFileUid(const std::string& fileUid);
    // All or nothing; an empty set runs nothing.
    bool removeByFileUids(const std::set<std::string>& fileUids);
    // The same for those of the files that have no stored file when the rows are deleted.
    bool removeOrphansByFileUids(const std::set<std::string>& fileUids);
    bool updateState(const std::string& fileUid, std::uint64_t offset, std::uint32_t state);
    // Stores the checkpoint of one channel. False also when no such channel is stored: a caller
    // must not believe a checkpoint kept that nothing holds.
    bool updateCheckpoint(const std::string& fileUid, std::uint64_t offset, std::uint64_t bytesWritten);
};

} // namespace fv_transfers
