#include "db/ChannelsDbInfo.h"

#include <Poco/Data/Binding.h>
#include <Poco/Data/Extraction.h>
#include <Poco/Exception.h>
#include <Poco/Tuple.h>

#include <map>

namespace fv_transfers {

using namespace Poco::Data::Keywords;

namespace {

using Row = Poco::Tuple<std::string, std::string, Poco::UInt64, Poco::UInt64, Poco::UInt32, std::string, std::string,
                        Poco::Int32, Poco::Int64>;

const char* const kColumns =
    "FileUid, Url, LocalOffset, BytesToUpload, State, HttpHeaderName, HttpHeaderValue, HeaderIndex, UrlExpires";

const char* const kUrlExpiresDefinition = "INTEGER NOT NULL DEFAULT 0";

// UrlExpires comes last, where adding it to an older table puts it too.
const std::string kCreate =
    "CREATE TABLE IF NOT EXISTS ChannelsDictionary (FileUid VARCHAR(40), Url VARCHAR, LocalOffset UINTEGER64, "
    "BytesToUpload UINTEGER64, State INTEGER8, HttpHeaderName VARCHAR, HttpHeaderValue VARCHAR, "
    "HeaderIndex INTEGER NOT NULL DEFAULT 0, UrlExpires " +
    std::string(kUrlExpiresDefinition) + ", PRIMARY KEY(FileUid, LocalOffset, HeaderIndex))";

std::vector<Row> toRows(const CChannelsDbInfo::ChannelInfo& channel)
{
    std::vector<Row> rows;
    const auto row = [&](const std::string& name, const std::string& value) {
        rows.emplace_back(channel.FileUid, channel.Url, channel.LocalOffset, channel.BytesToUpload, channel.State, name,
                          value, static_cast<Poco::Int32>(rows.size()), channel.UrlExpires);
    };
    for (const auto& header : channel.headers)
        row(header.first, header.second);
    if (rows.empty())
        row(std::string(), std::string());
    return rows;
}

} // namespace

CChannelsDbInfo::CChannelsDbInfo(std::shared_ptr<CDbConnection> connection)
    : CDbTable(std::move(connection), "ChannelsDictionary")
{
    runInTransaction("create", [&](Poco::Data::Session& session) {
        session << kCreate, now;
        convertUnindexedTable(session);
        addColumnIfMissing(session, "UrlExpires", kUrlExpiresDefinition);
    });
}

void CChannelsDbInfo::convertUnindexedTable(Poco::Data::Session& session)
{
    if (hasColumn(session, "HeaderIndex"))
        return;
    // Rows of one channel get their index in the order they were written; UrlExpires, which that
    // layout never had, keeps its default.
    session << "ALTER TABLE ChannelsDictionary RENAME TO ChannelsDictionaryUnindexed", now;
    session << kCreate, now;
    session << "INSERT INTO ChannelsDictionary (FileUid, Url, LocalOffset, BytesToUpload, State, HttpHeaderName, "
               "HttpHeaderValue, HeaderIndex) SELECT FileUid, Url, LocalOffset, BytesToUpload, State, HttpHeaderName, "
               "HttpHeaderValue, "
               "ROW_NUMBER() OVER (PARTITION BY FileUid, LocalOffset ORDER BY rowid) - 1 "
               "FROM ChannelsDictionaryUnindexed",
        now;
    session << "DROP TABLE ChannelsDictionaryUnindexed", now;
}

bool CChannelsDbInfo::insert(const ChannelInfo& channel)
{
    std::vector<Row> rows = toRows(channel);
    return runInTransaction("insert into", [&](Poco::Data::Session& session) {
        session << "DELETE FROM ChannelsDictionary WHERE FileUid=? AND LocalOffset=?", bind(channel.FileUid),
            bind(channel.LocalOffset), now;
        session << "INSERT INTO ChannelsDictionary (" + std::string(kColumns) + ") VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)",
            use(rows), now;
    });
}

bool CChannelsDbInfo::replaceFilePlan(const std::string& fileUid, const std::string& uploadId,
                                      const std::vector<ChannelInfo>& channels)
{
    std::vector<Row> rows;
    for (const ChannelInfo& channel : channels) {
        const std::vector<Row> channelRows = toRows(channel);
        rows.insert(rows.end(), channelRows.begin(), channelRows.end());
    }
    return runInTransaction("replace plan in", [&](Poco::Data::Session& session) {
        session << "DELETE FROM ChannelsDictionary WHERE FileUid=?", bind(fileUid), now;
        if (!rows.empty())
            session << "INSERT INTO ChannelsDictionary (" + std::string(kColumns) +
                           ") VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)",
                use(rows), now;
        session << "UPDATE FilesDictionary SET UploadId=? WHERE FileUid=?", bind(uploadId), bind(fileUid), now;
        int changed = 0;
        session << "SELECT changes()", into(changed), now;
        if (changed != 1)
            throw Poco::NotFoundException("no stored file " + fileUid);
    });
}

bool CChannelsDbInfo::selectAll(std::vector<ChannelInfo>& channels)
{
    channels.clear();
    std::vector<Row> rows;
    if (!run("select from", [&](Poco::Data::Session& session) {
            session << "SELECT " + std::string(kColumns) +
                           " FROM ChannelsDictionary ORDER BY FileUid, LocalOffset, HeaderIndex",
                into(rows), now;
        }))
        return false;
    std::map<std::pair<std::string, std::uint64_t>, std::size_t> byKey;
    for (const Row& row : rows) {
        const auto key = std::make_pair(row.get<0>(), static_cast<std::uint64_t>(row.get<2>()));
        auto found = byKey.find(key);
        if (found == byKey.end()) {
            ChannelInfo channel;
            channel.FileUid = row.get<0>();
            channel.Url = row.get<1>();
            channel.LocalOffset = row.get<2>();
            channel.BytesToUpload = row.get<3>();
            channel.State = row.get<4>();
            channel.UrlExpires = row.get<8>();
            found = byKey.emplace(key, channels.size()).first;
            channels.push_back(std::move(channel));
        }
        if (!row.get<5>().empty())
            channels[found->second].headers.emplace_back(row.get<5>(), row.get<6>());
    }
    return true;
}

bool CChannelsDbInfo::removeByFileUid(const std::string& fileUid)
{
    return removeRowsOfFile(fileUid);
}

bool CChannelsDbInfo::removeByFileUids(const std::set<std::string>& fileUids)
{
    return removeRowsOfFiles(fileUids);
}

bool CChannelsDbInfo::removeOrphansByFileUids(const std::set<std::string>& fileUids)
{
    return removeOrphanRowsOfFiles(fileUids, "FileUid", "FilesDictionary", "FileUid");
}

bool CChannelsDbInfo::updateState(const std::string& fileUid, std::uint64_t localOffset, std::uint32_t state)
{
    return run("update", [&](Poco::Data::Session& session) {
        session << "UPDATE ChannelsDictionary SET State=? WHERE FileUid=? AND LocalOffset=?", bind(state),
            bind(fileUid), bind(localOffset), now;
    });
}

bool CChannelsDbInfo::updateUrl(const std::string& fileUid, std::uint64_t localOffset, const std::string& url,
                                std::int64_t urlExpires)
{
    return updateMatched([&](Poco::Data::Session& session) {
        const Poco::Int64 expires = urlExpires;
        session << "UPDATE ChannelsDictionary SET Url=?, UrlExpires=? WHERE FileUid=? AND LocalOffset=?", bind(url),
            bind(expires), bind(fileUid), bind(localOffset), now;
    });
}

} // namespace fv_transfers
