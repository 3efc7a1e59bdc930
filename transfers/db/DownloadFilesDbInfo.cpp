#include "db/DownloadFilesDbInfo.h"

#include "core/base/StringConversion.h"
#include "db/DownloadGroupsDbInfo.h"

#include <Poco/Data/Binding.h>
#include <Poco/Data/Extraction.h>
#include <Poco/Tuple.h>

namespace fv_transfers {

using namespace Poco::Data::Keywords;

namespace {

// Table order: the URL and its expiry come last, after the group and temporary file.
using Row = Poco::Tuple<std::string, std::string, Poco::UInt64, Poco::UInt64, std::string, Poco::Int32, std::string,
                        std::string, Poco::UInt64>;

const char* const kColumns =
    "FileUid, FilePath, FileSize, ModificationDate, MD5digest, ParentGroupId, TmpFileName, DirectUrl, UrlExpires";

} // namespace

CDownloadFilesDbInfo::CDownloadFilesDbInfo(std::shared_ptr<CDbConnection> connection)
    : CDbTable(std::move(connection), "DownloadFilesDictionary")
{
    create("CREATE TABLE IF NOT EXISTS DownloadFilesDictionary (FileUid VARCHAR(40) PRIMARY KEY, FilePath VARCHAR, "
           "FileSize UINTEGER64, ModificationDate UINTEGER64, MD5digest VARCHAR, ParentGroupId INTEGER, "
           "TmpFileName VARCHAR, DirectUrl VARCHAR, UrlExpires INTEGER)");
}

bool CDownloadFilesDbInfo::insert(const FileDownloadDetails& details, std::int32_t parentGroupId,
                                  const std::wstring& tmpFileName)
{
    return insertRow("INSERT OR REPLACE INTO DownloadFilesDictionary (" + std::string(kColumns) +
                         ") VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)",
                     Row(details.id, wideToUtf8(details.path), details.size, details.modified, details.md5Digest,
                         parentGroupId, wideToUtf8(tmpFileName), details.downloadDetails.url,
                         details.downloadDetails.expires));
}

bool CDownloadFilesDbInfo::selectAll(std::vector<FileInfo>& files)
{
    return selectRecords<Row>("SELECT " + std::string(kColumns) + " FROM DownloadFilesDictionary ORDER BY rowid", files,
                              [](const Row& row) {
                                  FileInfo file;
                                  file.details.id = row.get<0>();
                                  file.details.path = utf8ToWide(row.get<1>());
                                  file.details.size = row.get<2>();
                                  file.details.modified = row.get<3>();
                                  file.details.md5Digest = row.get<4>();
                                  file.ParentGroupId = row.get<5>();
                                  file.TmpFileName = utf8ToWide(row.get<6>());
                                  file.details.downloadDetails.url = row.get<7>();
                                  file.details.downloadDetails.expires = row.get<8>();
                                  return file;
                              });
}

bool CDownloadFilesDbInfo::removeByFileUid(const std::string& fileUid)
{
    return removeRowsOfFile(fileUid);
}

bool CDownloadFilesDbInfo::removeByFileUids(const std::set<std::string>& fileUids)
{
    return removeRowsOfFiles(fileUids);
}

bool CDownloadFilesDbInfo::removeOrphansByFileUids(const std::set<std::string>& fileUids)
{
    return removeOrphanRowsOfFiles(fileUids, "ParentGroupId", CDownloadGroupsDbInfo::kTableName,
                                   CDownloadGroupsDbInfo::kKeyColumn);
}

bool CDownloadFilesDbInfo::updateDirectUrl(const std::string& fileUid, const std::string& url, std::uint64_t expires)
{
    return run("update", [&](Poco::Data::Session& session) {
        const Poco::UInt64 value = expires;
        session << "UPDATE DownloadFilesDictionary SET DirectUrl=?, UrlExpires=? WHERE FileUid=?", bind(url),
            bind(value), bind(fileUid), now;
    });
}

} // namespace fv_transfers
