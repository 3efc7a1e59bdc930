#pragma once

#include "db/DbTable.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace fv_transfers {

// The upload channels: table ChannelsDictionary, one row per HTTP header of a channel (one row
// with an empty name for a channel without headers). HeaderIndex keeps the header order and lets
// one name repeat.
class CChannelsDbInfo : public CDbTable {
public:
    // One channel; a channel is identified by its file and offset.
    struct ChannelInfo {
        std::string FileUid;
        std::string Url;
        std::uint64_t LocalOffset = 0;
        std::uint64_t BytesToUpload = 0;
        std::uint32_t State = 0;
        std::vector<std::pair<std::string, std::string>> headers; // name, value, in order
        // When Url stops being valid, in wall-clock seconds since 1970; kUnknownUrlExpiry for
        // channels stored before expiries were, which are refreshed only when refused.
        std::int64_t UrlExpires = kUnknownUrlExpiry;
    };

    static constexpr std::int64_t kUnknownUrlExpiry = 0;

    // Creates the table. Tables of older layouts are brought up to date in one transaction with
    // every row kept: one keyed by header name gains HeaderIndex, one without UrlExpires gains it.
    explicit CChannelsDbInfo(std::shared_ptr<CDbConnection> connection);

    // Stores the channel with all its headers in one transaction, replacing any channel stored at
    // the same file and offset.
    bool insert(const ChannelInfo& channel);
    // A file's whole upload plan in one transaction: its stored channels replaced by `channels`
    // and its FilesDictionary row given `uploadId`, so that a crash leaves either the old plan or
    // the new one, never an upload id without its parts.
    bool replaceFilePlan(const std::string& fileUid, const std::string& uploadId,
                         const std::vector<ChannelInfo>& channels);
    // Replaces `channels` with every stored channel, ordered by file and offset, headers in their
    // stored order. A header with an empty name is not given back. On failure `channels` is empty.
    bool selectAll(std::vector<ChannelInfo>& channels);
    bool removeByFileUid(const std::string& fileUid);
    bool removeByFileUids(const std::set<std::string>& fileUids);
    // The same for those of the files that have no stored file when the rows are deleted.
    bool removeOrphansByFileUids(const std::set<std::string>& fileUids);
    bool updateState(const std::string& fileUid, std::uint64_t localOffset, std::uint32_t state);
    // A refreshed URL with its expiry, on every row of the channel at once. False also when no such
    // channel is stored.
    bool updateUrl(const std::string& fileUid, std::uint64_t localOffset, const std::string& url,
                   std::int64_t urlExpires);

private:
    void convertUnindexedTable(Poco::Data::Session& session);
};

} // namespace fv_transfers
