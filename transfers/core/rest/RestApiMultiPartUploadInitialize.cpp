#include "core/rest/RestApiMultiPartUploadInitialize.h"

#include "core/log/FvTransfersLogger.h"
#include "core/rest/RestJson.h"

#include <algorithm>

namespace fv_transfers {

namespace {

dt_error badPart(const char* what, int index)
{
    FV_LOG_ERROR("Multipart upload initialize: part entry " << index << ": " << what);
    return dt_general_error;
}

Json::Value partsBody(const std::vector<PartDesc>& parts)
{
    if (parts.empty())
        return Json::Value();
    Json::Value list(Json::arrayValue);
    for (const PartDesc& part : parts) {
        Json::Value entry(Json::objectValue);
        entry["number"] = Json::UInt(part.number);
        entry["size"] = Json::UInt64(part.size);
        entry["md5Digest"] = rest_json::stringOrNull(part.md5Digest);
        list.append(entry);
    }
    return list;
}

} // namespace

dt_error CRestApiMultiPartUploadInitialize::execute(const MultiPartInitParams& params)
{
    m_requestedParts.clear();
    for (const PartDesc& part : params.parts) {
        if (part.number == 0 || !m_requestedParts.insert(part.number).second) {
            FV_LOG_ERROR("CRestApiMultiPartUploadInitialize::execute: part number " << part.number
                                                                                    << " is zero or repeated");
            m_requestedParts.clear();
            return dt_invalid_argument;
        }
    }
    Json::Value body(Json::objectValue);
    body["uploader"] = kRestUploaderName;
    body["md5Digest"] = rest_json::stringOrNull(params.md5Digest);
    body["size"] = Json::UInt64(params.fileSize);
    body["parts"] = partsBody(params.parts);
    return sendMultiPartRequest(params, std::move(body), "initialize");
}

dt_error CRestApiMultiPartUploadInitialize::getResult(MultiPartInitResult& result)
{
    Json::Value root;
    const dt_error received = receiveResponse(root, false);
    if (received != dt_success)
        return received;
    MultiPartInitResult initialized;
    if (!rest_json::getString(root, "uploadId", initialized.uploadId) || initialized.uploadId.empty()) {
        rest_json::logMissingMandatoryAttribute("uploadId", "");
        return dt_general_error;
    }
    const Json::Value* list = rest_json::member(root, "partUploadDetails");
    const dt_error parts = readParts(list ? *list : Json::Value(), initialized.parts);
    if (parts != dt_success)
        return parts;
    result = std::move(initialized);
    return dt_success;
}

dt_error CRestApiMultiPartUploadInitialize::readParts(const Json::Value& list,
                                                      std::vector<PartUploadDetails>& parts) const
{
    if (list.isNull() && m_requestedParts.empty())
        return dt_success;
    if (!list.isArray()) {
        rest_json::logMissingMandatoryAttribute("partUploadDetails", "");
        return dt_general_error;
    }
    std::set<uint32_t> seen;
    for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
        const Json::Value& entry = list[i];
        const int index = static_cast<int>(i);
        PartUploadDetails part;
        if (!entry.isObject())
            return badPart("not an object", index);
        if (!rest_json::getInt(entry, "number", part.number) || part.number <= 0 ||
            !m_requestedParts.count(static_cast<uint32_t>(part.number)))
            return badPart("\"number\" missing or not a requested part", index);
        if (!seen.insert(static_cast<uint32_t>(part.number)).second)
            return badPart("part number repeated", index);
        if (!rest_json::getString(entry, "url", part.url) || part.url.empty())
            return badPart("\"url\" missing or empty", index);
        const Json::Value* expires = rest_json::member(entry, "expires");
        if (expires && !expires->isNull() && !rest_json::getUInt64(entry, "expires", part.expires))
            return badPart("\"expires\" is not a number", index);
        const Json::Value* headers = rest_json::member(entry, "headers");
        if (headers && !headers->isNull() && !rest_json::getHeaders(*headers, part.headers))
            return badPart("\"headers\" is not an object of strings", index);
        parts.push_back(std::move(part));
    }
    if (seen.size() != m_requestedParts.size()) {
        FV_LOG_ERROR("Multipart upload initialize: " << seen.size() << " parts answered, " << m_requestedParts.size()
                                                     << " requested");
        return dt_general_error;
    }
    std::sort(parts.begin(), parts.end(),
              [](const PartUploadDetails& a, const PartUploadDetails& b) { return a.number < b.number; });
    return dt_success;
}

} // namespace fv_transfers
