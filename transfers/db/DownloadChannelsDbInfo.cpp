#include "db/DownloadChannelsDbInfo.h"

#include <Poco/Data/Binding.h>
#include <Poco/Data/Extraction.h>
#include <Poco/Tuple.h>

namespace fv_transfers {

using namespace Poco::Data::Keywords;

namespace {

using Row = Poco::Tuple<std::string, Poco::UInt64, Poco::UInt64, Poco::UInt32, std::string, Poco::UInt64>;

const char* const kColumns = "FileUid, Offset, BytesToTransfer, State, Md5, BytesWritten";

const std::string kInsert =
    "INSERT OR REPLACE INTO DownloadChannelsDictionary (" + std::string(kColumns) + ") VALUES(?, ?, ?, ?, ?, ?)";

Row toRow(const CDownloadChannelsDbInfo::ChannelInfo& channel)
{
    return Row(channel.FileUid, channel.Offset, channel.BytesToTransfer, channel.State, channel.Md5,
               channel.BytesWritten);
}

} // namespace

CDownloadChannelsDbInfo::CDownloadChannelsDbInfo(std::shared_ptr<CDbConnection> connection)
    : CDbTable(std::move(connection), "DownloadChannelsDictionary")
{
    runInTransaction("create", [&](Poco::Data::Session& session) {
        session << "CREATE TABLE IF NOT EXISTS DownloadChannelsDictionary (FileUid VARCHAR(40), Offset UINTEGER64, "
                   "BytesToTransfer UINTEGER64, State INTEGER8, Md5 VARCHAR(40), "
                   "BytesWritten INTEGER NOT NULL DEFAULT 0, PRIMARY KEY(FileUid, Offset))",
            now;
        addColumnIfMissing(session, "BytesWritten", "INTEGER NOT NULL DEFAULT 0");
    });
}

bool CDownloadChannelsDbInfo::insert(const ChannelInfo& channel)
{
    return insertRow(kInsert, toRow(channel));
}

bool CDownloadChannelsDbInfo::insertPlan(const std::string& fileUid, const std::vector<ChannelInfo>& channels)
{
    std::vector<Row> rows;
    rows.reserve(channels.size());
    for (const ChannelInfo& channel : channels)
        rows.emplace_back(fileUid, channel.Offset, channel.BytesToTransfer, channel.State, channel.Md5,
                          channel.BytesWritten);
    return runInTransaction("insert into", [&](Poco::Data::Session& session) {
        session << "DELETE FROM DownloadChannelsDictionary WHERE FileUid=?", bind(fileUid), now;
        // A bound vector runs the statement once per row, inside this one transaction.
        if (!rows.empty())
            session << "INSERT INTO DownloadChannelsDictionary (" + std::string(kColumns) +
                           ") VALUES(?, ?, ?, ?, ?, ?)",
                use(rows), now;
    });
}

bool CDownloadChannelsDbInfo::selectAll(std::vector<ChannelInfo>& channels)
{
    return selectRecords<Row>("SELECT " + std::string(kColumns) + " FROM DownloadChannelsDictionary ORDER BY rowid",
                              channels, [](const Row& row) {
                                  return ChannelInfo{row.get<0>(), row.get<1>(), row.get<2>(),
                                                     row.get<3>(), row.get<4>(), row.get<5>()};
                              });
}

bool CDownloadChannelsDbInfo::removeByFileUid(const std::string& fileUid)
{
    return removeRowsOfFile(fileUid);
}

bool CDownloadChannelsDbInfo::removeByFileUids(const std::set<std::string>& fileUids)
{
    return removeRowsOfFiles(fileUids);
}

bool CDownloadChannelsDbInfo::removeOrphansByFileUids(const std::set<std::string>& fileUids)
{
    return removeOrphanRowsOfFiles(fileUids, "FileUid", "DownloadFilesDictionary", "FileUid");
}

bool CDownloadChannelsDbInfo::updateState(const std::string& fileUid, std::uint64_t offset, std::uint32_t state)
{
    return run("update", [&](Poco::Data::Session& session) {
        session << "UPDATE DownloadChannelsDictionary SET State=? WHERE FileUid=? AND Offset=?", bind(state),
            bind(fileUid), bind(offset), now;
    });
}

bool CDownloadChannelsDbInfo::updateCheckpoint(const std::string& fileUid, std::uint64_t offset,
                                               std::uint64_t bytesWritten)
{
    return updateMatched([&](Poco::Data::Session& session) {
        session << "UPDATE DownloadChannelsDictionary SET BytesWritten=? WHERE FileUid=? AND Offset=?",
            bind(bytesWritten), bind(fileUid), bind(offset), now;
    });
}

} // namespace fv_transfers
