#include "bridge/TransferJson.h"

#include "bridge/BridgeLog.h"
#include "bridge/InvalidJsonBridgeParam.h"
#include "shell/ExceptionText.h"
#include "shell/LogText.h"
#include "shell/StringConversion.h"

#include <charconv>
#include <cstdint>

namespace ferrovan {

namespace {

using fv_transfers::CTransferManagerBase;

constexpr std::uint32_t kMsPerSecond = 1000;

Json::Value uint64Value(std::uint64_t value)
{
    return Json::Value(static_cast<Json::UInt64>(value));
}

// Seconds from the page to milliseconds; more seconds than 32 bits of milliseconds hold would
// wrap into a time-out of a few milliseconds.
std::uint32_t timeoutMs(const Json::Value& seconds, const char* key, const std::string& function)
{
    const Json::UInt value = seconds.asUInt();
    if (value > UINT32_MAX / kMsPerSecond)
        throw CInvalidJsonBridgeParam(function, key);
    return value * kMsPerSecond;
}

void applyBase(const Json::Value& json, CTransferManagerBase::Configuration& configuration, const std::string& function)
{
    if (json.isMember("maxConcurrentTransfers"))
        configuration.maxConcurrentTransfers = json["maxConcurrentTransfers"].asUInt();
    if (json.isMember("minMultipartSize"))
        configuration.minMultipartSize = json["minMultipartSize"].asUInt64();
    if (json.isMember("maxTransferRetries"))
        configuration.maxTransferRetries = json["maxTransferRetries"].asUInt();
    if (json.isMember("verifyUploads"))
        configuration.verify = json["verifyUploads"].asBool();
    if (json.isMember("preventSleep"))
        configuration.preventSleep = json["preventSleep"].asBool();
    if (json.isMember("throttleBytesPerSecond"))
        configuration.throttleBytesPerSecond = json["throttleBytesPerSecond"].asUInt64();
    if (json.isMember("connectionTimeoutSec"))
        configuration.connectionTimeoutMs = timeoutMs(json["connectionTimeoutSec"], "connectionTimeoutSec", function);
    if (json.isMember("sendTimeoutSec"))
        configuration.sendTimeoutMs = timeoutMs(json["sendTimeoutSec"], "sendTimeoutSec", function);
    if (json.isMember("recvTimeoutSec"))
        configuration.receiveTimeoutMs = timeoutMs(json["recvTimeoutSec"], "recvTimeoutSec", function);
}

// The conversion of one member, or `fallback` when JsonCpp rejects the member's type.
template <class Value, class Convert>
Value memberOr(const Json::Value& element, const char* key, Convert convert, Value fallback)
{
    try {
        return convert(element.get(key, Json::Value()));
    } catch (const std::exception&) {
        return fallback;
    }
}

std::string asText(const Json::Value& value)
{
    return value.asString();
}

std::uint64_t asUInt64(const Json::Value& value)
{
    return value.asUInt64();
}

// "5" and "-3", nothing around the digits.
bool parseDecimalInt(const std::string& text, int& value)
{
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && text[0] != '+' && result.ec == std::errc() && result.ptr == end;
}

} // namespace

void configurationToJson(const CTransferManagerBase::Configuration& configuration, Json::Value& json)
{
    json["maxConcurrentTransfers"] = Json::UInt(configuration.maxConcurrentTransfers);
    json["minMultipartSize"] = uint64Value(configuration.minMultipartSize);
    json["maxTransferRetries"] = Json::UInt(configuration.maxTransferRetries);
    json["verifyUploads"] = configuration.verify;
    json["preventSleep"] = configuration.preventSleep;
    json["throttleBytesPerSecond"] = uint64Value(configuration.throttleBytesPerSecond);
    json["connectionTimeoutSec"] = Json::UInt(configuration.connectionTimeoutMs / kMsPerSecond);
    json["sendTimeoutSec"] = Json::UInt(configuration.sendTimeoutMs / kMsPerSecond);
    json["recvTimeoutSec"] = Json::UInt(configuration.receiveTimeoutMs / kMsPerSecond);
}

void configurationToJson(const fv_transfers::CUploadManager::Configuration& configuration, Json::Value& json)
{
    configurationToJson(static_cast<const CTransferManagerBase::Configuration&>(configuration), json);
    json["serverTransferProgressInterval"] = Json::UInt(configuration.serverTransferProgressInterval);
}

void configurationFromJson(const Json::Value& json, CTransferManagerBase::Configuration& configuration,
                           const std::string& function)
{
    CTransferManagerBase::Configuration changed = configuration;
    applyBase(json, changed, function);
    configuration = changed;
}

void configurationFromJson(const Json::Value& json, fv_transfers::CUploadManager::Configuration& configuration,
                           const std::string& function)
{
    fv_transfers::CUploadManager::Configuration changed = configuration;
    applyBase(json, changed, function);
    if (json.isMember("serverTransferProgressInterval"))
        changed.serverTransferProgressInterval = json["serverTransferProgressInterval"].asUInt();
    configuration = changed;
}

void groupStateToJson(const CTransferManagerBase::GroupState& state, Json::Value& json)
{
    json["id"] = std::to_string(state.id);
    json["type"] = transferStateName(state.state);
    json["bucketId"] = state.bucketId;
    json["bucketType"] = state.bucketType;
    json["paused"] = state.paused;
    json["empty"] = state.empty;
    json["bytesTransferred"] = uint64Value(state.bytesTransferred);
    json["bytesTotal"] = uint64Value(state.bytesTotal);
    json["percentTransferred"] = static_cast<double>(state.percentTransferred);
    json["bytesTransferredPerSecond"] = uint64Value(state.bytesTransferredPerSecond);
    json["estimatedEta"] = uint64Value(state.estimatedEta);
    json["cancelled"] = state.cancelled;
}

void groupStateToJson(const fv_transfers::CUploadManager::GroupState& state, Json::Value& json)
{
    groupStateToJson(static_cast<const CTransferManagerBase::GroupState&>(state), json);
    json["marked"] = state.marked;
}

void fileStateToJson(const CTransferManagerBase::FileState& state, Json::Value& json)
{
    const std::string name = CTransferManagerBase::fileStateText(state.state);
    json["id"] = std::to_string(state.id);
    json["bucketId"] = state.bucketId;
    json["fileId"] = state.fileId;
    json["type"] = name;
    Json::Value progress(Json::objectValue);
    progress["type"] = name;
    progress["bytesTransfered"] = uint64Value(state.bytesTransferred);
    progress["bytesTotal"] = uint64Value(state.bytesTotal);
    progress["percentTransferred"] = static_cast<double>(state.percentTransferred);
    json["state"] = progress;
}

Json::Value groupEventJson(const CTransferManagerBase::GroupState& state, const Json::Value& stateJson)
{
    Json::Value event(Json::objectValue);
    event["state"] = stateJson;
    event["id"] = std::to_string(state.id);
    event["bucketId"] = state.bucketId;
    event["type"] = transferStateName(state.state);
    return event;
}

bool downloadFileFromJson(const Json::Value& element, fv_transfers::FileDownloadDetails& file)
{
    try {
        file.id = element.get("id", Json::Value()).asString();
    } catch (const std::exception&) {
        return false;
    }
    utf8ToWide(memberOr(element, "path", asText, std::string()), file.path);
    file.size = memberOr(element, "size", asUInt64, std::uint64_t(0));
    file.modified = memberOr(element, "modified", asUInt64, std::uint64_t(0));
    file.md5Digest = memberOr(element, "md5Digest", asText, std::string());
    try {
        const Json::Value details = element.get("downloadDetails", Json::Value());
        file.downloadDetails.url = details.get("url", Json::Value()).asString();
        file.downloadDetails.expires = details.get("expires", Json::Value()).asUInt64();
    } catch (const std::exception& e) {
        logBridgeError("Exception caught when trying to obtain download url from json: " + exceptionText(e));
        return false;
    }
    return true;
}

GroupBucket groupBucketFromJson(const Json::Value& request)
{
    GroupBucket bucket;
    bucket.bucketId = request.get("bucketId", "").asString();
    bucket.bucketType = request.get("bucketType", "").asString();
    bucket.token = request.get("token", "").asString();
    bucket.tokenExpires = request.get("tokenExpires", Json::Value()).asUInt64();
    return bucket;
}

std::string groupCreationLogLine(const std::string& kind, const GroupBucket& bucket)
{
    return "Creating " + kind + " group. Bucket id: " + printableForLog(bucket.bucketId) +
           ", bucket type: " + printableForLog(bucket.bucketType) + ", token: " + (bucket.token.empty() ? "" : "***") +
           ", token expires: " + std::to_string(bucket.tokenExpires);
}

std::string transferStateName(std::int32_t groupState)
{
    return CTransferManagerBase::groupStateText(groupState);
}

int groupIdFromParams(const Json::Value& parameters, const std::string& function)
{
    const Json::Value id = parameters.get("groupId", Json::Value());
    if (id.isInt())
        return id.asInt();
    int value = 0;
    if (id.isString() && parseDecimalInt(id.asString(), value))
        return value;
    throw CInvalidJsonBridgeParam(function, "groupId");
}

} // namespace ferrovan
