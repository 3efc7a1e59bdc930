#include "db/DownloadChannelsDbInfo.h"

#include <Poco/Data/Binding.h>
#include <Poco/Data/Extraction.h>
#include <Poco/Tuple.h>

namespace fv_transfers {

using namespace Poco::Data::Keywords;

namespace {

using Row = Poco::Tuple<std::string, Poco::UInt64, Poco::UInt64, Poco::UInt32, std::string>;

} // namespace

CDownloadChannelsDbInfo::CDownloadChannelsDbInfo(std::shared_ptr<CDbConnection> connection)
    : CDbTable(std::move(connection), "DownloadChannelsDictionary")
{
    create("CREATE TABLE IF NOT EXISTS DownloadChannelsDictionary (FileUid VARCHAR(40), Offset UINTEGER64, "
           "BytesToTransfer UINTEGER64, State INTEGER8, Md5 VARCHAR(40), PRIMARY KEY(FileUid, Offset))");
}

bool CDownloadChannelsDbInfo::insert(const ChannelInfo& channel)
{
    const Row row(channel.FileUid, channel.Offset, channel.BytesToTransfer, channel.State, channel.Md5);
    return run("insert into", [&](Poco::Data::Session& session) {
        session << "INSERT OR REPLACE INTO DownloadChannelsDictionary (FileUid, Offset, BytesToTransfer, State, Md5) "
                   "VALUES(?, ?, ?, ?, ?)",
            bind(row), now;
    });
}

bool CDownloadChannelsDbInfo::selectAll(std::vector<ChannelInfo>& channels)
{
    channels.clear();
    std::vector<Row> rows;
    if (!run("select from", [&](Poco::Data::Session& session) {
            session << "SELECT FileUid, Offset, BytesToTransfer, State, Md5 FROM DownloadChannelsDictionary "
                       "ORDER BY rowid",
                into(rows), now;
        }))
        return false;
    channels.reserve(rows.size());
    for (const Row& row : rows) {
        ChannelInfo channel;
        channel.FileUid = row.get<0>();
        channel.Offset = row.get<1>();
        channel.BytesToTransfer = row.get<2>();
        channel.State = row.get<3>();
        channel.Md5 = row.get<4>();
        channels.push_back(std::move(channel));
    }
    return true;
}

bool CDownloadChannelsDbInfo::removeByFileUid(const std::string& fileUid)
{
    return removeRowsOfFile(fileUid);
}

bool CDownloadChannelsDbInfo::removeByFileUids(const std::set<std::string>& fileUids)
{
    return removeRowsOfFiles(fileUids);
}

bool CDownloadChannelsDbInfo::updateState(const std::string& fileUid, std::uint64_t offset, std::uint32_t state)
{
    return run("update", [&](Poco::Data::Session& session) {
        session << "UPDATE DownloadChannelsDictionary SET State=? WHERE FileUid=? AND Offset=?", bind(state),
            bind(fileUid), bind(offset), now;
    });
}

} // namespace fv_transfers
