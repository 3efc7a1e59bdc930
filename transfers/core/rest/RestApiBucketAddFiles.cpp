#include "core/rest/RestApiBucketAddFiles.h"

#include "core/log/FvTransfersLogger.h"
#include "core/rest/RestJson.h"
#include "core/rest/TransferRestRecords.h"

#include <Poco/DateTimeFormatter.h>
#include <Poco/Timestamp.h>

namespace fv_transfers {

namespace {

// "2008-08-01T02:00:00.000Z": the form the service reads file times in.
std::string isoTime(uint64_t msSince1970)
{
    const Poco::Timestamp time(static_cast<Poco::Timestamp::TimeVal>(msSince1970) * 1000);
    return Poco::DateTimeFormatter::format(time, "%Y-%m-%dT%H:%M:%S.%iZ");
}

Json::Value fileEntry(const NewFileDesc& file)
{
    Json::Value entry(Json::objectValue);
    entry["name"] = file.name;
    entry["size"] = Json::UInt64(file.size);
    entry["created"] = isoTime(file.createdMs);
    entry["modified"] = isoTime(file.modifiedMs);
    entry["path"] = Json::Value(Json::nullValue);
    return entry;
}

AddedFileDetails readEntry(const Json::Value& entry)
{
    AddedFileDetails details;
    if (const Json::Value* file = rest_json::objectMember(entry, "file"))
        rest_json::getString(*file, "id", details.fileId);
    const Json::Value* uploadDetails = rest_json::objectMember(entry, "uploadDetails");
    const Json::Value* put = uploadDetails ? rest_json::objectMember(*uploadDetails, "put") : nullptr;
    if (put) {
        rest_json::getString(*put, "url", details.uploadUrl);
        rest_json::getUInt64(*put, "expires", details.expires);
        if (const Json::Value* headers = rest_json::member(*put, "headers"))
            rest_json::getHeaders(*headers, details.headers);
    }
    return details;
}

} // namespace

dt_error CRestApiBucketAddFiles::execute(const AddFilesParams& params)
{
    if (!acceptRequestValues({&params.bucketId}, params.bucketToken, "CRestApiBucketAddFiles::execute"))
        return dt_invalid_argument;
    Json::Value body(Json::objectValue);
    body["token"] = params.bucketToken;
    body["bucketId"] = params.bucketId;
    body["uploader"] = kRestUploaderName;
    body["cloneFiles"] = Json::Value(Json::arrayValue);
    body["files"] = Json::Value(Json::arrayValue);
    for (const NewFileDesc& file : params.files)
        body["files"].append(fileEntry(file));
    return sendAuthRequest("/api/v2/bucket/" + params.bucketId + "/files", body, params.loginToken);
}

dt_error CRestApiBucketAddFiles::getResult(std::vector<AddedFileDetails>& result)
{
    Json::Value root;
    const dt_error received = receiveResponse(root, false);
    if (received != dt_success)
        return received;
    std::vector<AddedFileDetails> read;
    const Json::Value* files = rest_json::member(root, "files");
    if (files && files->isNull())
        files = nullptr;
    if (files && !files->isArray()) {
        FV_LOG_ERROR("CRestApiBucketAddFiles::getResult: \"files\" is not an array");
        return dt_general_error;
    }
    if (files) {
        for (const Json::Value& entry : *files)
            read.push_back(readEntry(entry));
    }
    result = std::move(read);
    return dt_success;
}

} // namespace fv_transfers
