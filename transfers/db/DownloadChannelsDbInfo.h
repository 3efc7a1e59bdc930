#pragma once

#include "db/DbTable.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace fv_transfers {

// The download channels: table DownloadChannelsDictionary, one row per byte range of a file.
class CDownloadChannelsDbInfo : public CDbTable {
public:
    struct ChannelInfo {
        std::string FileUid;
        std::uint64_t Offset = 0;
        std::uint64_t BytesToTransfer = 0;
        std::uint32_t State = 0;
        std::string Md5;
    };

    explicit CDownloadChannelsDbInfo(std::shared_ptr<CDbConnection> connection);

    // A range already stored at the same file and offset is replaced.
    bool insert(const ChannelInfo& channel);
    // Replaces `channels` with every stored row, in stored order (NULL columns read as empty or
    // 0); on failure `channels` is left empty.
    bool selectAll(std::vector<ChannelInfo>& channels);
    bool removeByFileUid(const std::string& fileUid);
    // All or nothing; an empty set runs nothing.
    bool removeByFileUids(const std::set<std::string>& fileUids);
    // The same for those of the files that have no stored file when the rows are deleted.
    bool removeOrphansByFileUids(const std::set<std::string>& fileUids);
    bool updateState(const std::string& fileUid, std::uint64_t offset, std::uint32_t state);
};

} // namespace fv_transfers
