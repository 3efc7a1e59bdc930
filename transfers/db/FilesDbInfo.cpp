#include "db/FilesDbInfo.h"

#include "core/base/StringConversion.h"

#include <Poco/Data/Binding.h>
#include <Poco/Data/Extraction.h>
#include <Poco/Tuple.h>

namespace fv_transfers {

using namespace Poco::Data::Keywords;

namespace {

using Row = Poco::Tuple<std::string, std::string, Poco::Int32, std::string, bool, Poco::Int64, Poco::Int64>;

const char* const kColumns = "FileUid, FileLocalUri, ParentGroupId, UploadId, Completed, LastModified, FileSize";
const char* const kFileSizeDefinition = "INTEGER NOT NULL DEFAULT -1";

} // namespace

CFilesDbInfo::CFilesDbInfo(std::shared_ptr<CDbConnection> connection)
    : CDbTable(std::move(connection), "FilesDictionary")
{
    runInTransaction("create", [&](Poco::Data::Session& session) {
        session << "CREATE TABLE IF NOT EXISTS FilesDictionary (FileUid VARCHAR(40) PRIMARY KEY, FileLocalUri VARCHAR, "
                   "ParentGroupId INTEGER, UploadId VARCHAR, Completed BOOLEAN, LastModified INTEGER, FileSize " +
                       std::string(kFileSizeDefinition) + ")",
            now;
        addColumnIfMissing(session, "FileSize", kFileSizeDefinition);
    });
}

bool CFilesDbInfo::insert(const UploadFileDesc& file, std::int32_t parentGroupId, std::int64_t fileSize,
                          std::int64_t lastModified)
{
    return insertRow(
        "INSERT OR REPLACE INTO FilesDictionary (" + std::string(kColumns) + ") VALUES(?, ?, ?, ?, ?, ?, ?)",
        Row(file.fileUid, wideToUtf8(file.fileUrl), parentGroupId, std::string(), false, lastModified, fileSize));
}

bool CFilesDbInfo::selectAll(std::vector<FileInfo>& files)
{
    return selectRecords<Row>("SELECT " + std::string(kColumns) + " FROM FilesDictionary ORDER BY rowid", files,
                              [](const Row& row) {
                                  FileInfo file;
                                  file.FileUid = row.get<0>();
                                  file.FileLocalUri = utf8ToWide(row.get<1>());
                                  file.ParentGroupId = row.get<2>();
                                  file.UploadId = row.get<3>();
                                  file.Completed = row.get<4>();
                                  file.LastModified = row.get<5>();
                                  file.FileSize = row.get<6>();
                                  return file;
                              });
}

bool CFilesDbInfo::removeByFileUid(const std::string& fileUid)
{
    return removeRowsOfFile(fileUid);
}

bool CFilesDbInfo::removeByFileUids(const std::set<std::string>& fileUids)
{
    return removeRowsOfFiles(fileUids);
}

bool CFilesDbInfo::removeOrphansByFileUids(const std::set<std::string>& fileUids)
{
    return removeOrphanRowsOfFiles(fileUids, "ParentGroupId", "GroupsDictionary", "GroupId");
}

bool CFilesDbInfo::updateUploadId(const std::string& fileUid, const std::string& uploadId)
{
    return run("update", [&](Poco::Data::Session& session) {
        session << "UPDATE FilesDictionary SET UploadId=? WHERE FileUid=?", bind(uploadId), bind(fileUid), now;
    });
}

bool CFilesDbInfo::setCompleted(const std::string& fileUid)
{
    return run("update", [&](Poco::Data::Session& session) {
        session << "UPDATE FilesDictionary SET Completed=1 WHERE FileUid=?", bind(fileUid), now;
    });
}

bool CFilesDbInfo::updateLastModified(const std::string& fileUid, std::int64_t lastModified)
{
    return run("update", [&](Poco::Data::Session& session) {
        const Poco::Int64 value = lastModified;
        session << "UPDATE FilesDictionary SET LastModified=? WHERE FileUid=?", bind(value), bind(fileUid), now;
    });
}

bool CFilesDbInfo::updateSizeAndLastModified(const std::string& fileUid, std::int64_t fileSize,
                                             std::int64_t lastModified)
{
    return updateMatched([&](Poco::Data::Session& session) {
        const Poco::Int64 size = fileSize;
        const Poco::Int64 modified = lastModified;
        session << "UPDATE FilesDictionary SET FileSize=?, LastModified=? WHERE FileUid=?", bind(size), bind(modified),
            bind(fileUid), now;
    });
}

bool CFilesDbInfo::getLastModified(const std::string& fileUid, std::int64_t& lastModified)
{
    std::vector<Poco::Int64> values;
    if (!run("select from", [&](Poco::Data::Session& session) {
            session << "SELECT LastModified FROM FilesDictionary WHERE FileUid=?", bind(fileUid), into(values), now;
        }))
        return false;
    lastModified = values.empty() ? 0 : values.front();
    return true;
}

bool CFilesDbInfo::exists(const std::string& fileUid, bool& present)
{
    std::vector<int> found;
    if (!run("select from", [&](Poco::Data::Session& session) {
            session << "SELECT 1 FROM FilesDictionary WHERE FileUid=?", bind(fileUid), into(found), now;
        }))
        return false;
    present = !found.empty();
    return true;
}

} // namespace fv_transfers
