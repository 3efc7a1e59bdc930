#pragma once

#include "framework/TransferManagerBase.h"
#include "records/TransferRecords.h"
#include "upload/UploadManager.h"

#include <json/value.h>

#include <cstdint>
#include <string>

namespace ferrovan {

// The JSON forms in which the page sees the transfer library's records, shared by the upload and
// download bridges. The member names are the page's: "bytesTransfered" with one r in a file's
// state and "UNKNWON" for a state without a name are written so on purpose.

// The page's settings: time-outs in whole seconds (milliseconds / 1000, rounded down).
void configurationToJson(const fv_transfers::CTransferManagerBase::Configuration& configuration, Json::Value& json);
// Adds "serverTransferProgressInterval", in milliseconds.
void configurationToJson(const fv_transfers::CUploadManager::Configuration& configuration, Json::Value& json);

// Applies the members `json` has to `configuration` and leaves the others. All or nothing: a
// value that does not convert (negative, text, array, a time-out whose milliseconds do not fit
// 32 bits) throws before anything is applied. `function` names the caller in that failure.
void configurationFromJson(const Json::Value& json, fv_transfers::CTransferManagerBase::Configuration& configuration,
                           const std::string& function);
void configurationFromJson(const Json::Value& json, fv_transfers::CUploadManager::Configuration& configuration,
                           const std::string& function);

void groupStateToJson(const fv_transfers::CTransferManagerBase::GroupState& state, Json::Value& json);
// Adds "marked".
void groupStateToJson(const fv_transfers::CUploadManager::GroupState& state, Json::Value& json);
void fileStateToJson(const fv_transfers::CTransferManagerBase::FileState& state, Json::Value& json);

// What the page's group-state function receives: the state's JSON with the group's id, bucket
// and state name beside it.
Json::Value groupEventJson(const fv_transfers::CTransferManagerBase::GroupState& state, const Json::Value& stateJson);

// One element of a download request's "files". A member of a type JsonCpp cannot convert reads
// as empty or 0, except the id and the "downloadDetails" (whose failure is logged): without
// them the element is dropped (false).
bool downloadFileFromJson(const Json::Value& element, fv_transfers::FileDownloadDetails& file);

// The bucket a new group transfers to, as the page names it; missing members read as empty or 0.
struct GroupBucket {
    std::string bucketId;
    std::string bucketType;
    std::string token;
    std::uint64_t tokenExpires = 0;
};
GroupBucket groupBucketFromJson(const Json::Value& request);
// "Creating <kind> group. Bucket id: ..., token: ***, ...": the token opens the user's files and
// the log goes to the help desk.
std::string groupCreationLogLine(const std::string& kind, const GroupBucket& bucket);

// The name of a group state code.
std::string transferStateName(std::int32_t groupState);

// The member "groupId" of a parameters object (or null): a JSON integer or the decimal text of
// one. Anything else, a missing member included, throws CInvalidJsonBridgeParam naming
// `function` and "groupId": group 0 is a real group, so a wrong id must not reach it.
int groupIdFromParams(const Json::Value& parameters, const std::string& function);

} // namespace ferrovan
