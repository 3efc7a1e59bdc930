#include "core/helpdesk/ZendeskAttachmentUploader.h"

#include "core/http/FullHttpBodyRetriever.h"
#include "core/log/ErrorCheckLog.h"
#include "core/log/FvTransfersLogger.h"
#include "core/rest/RestJson.h"

namespace fv_transfers {

namespace {

// The attachment's answer is a few hundred bytes.
constexpr std::size_t kMaxAnswerSize = 1024 * 1024;

void logCheckFailure(int line, dt_error result)
{
    logErrorCheckFailed("Zendesk\\CZendeskAttachmentUploader", "fv_transfers::CZendeskAttachmentUploader::upload", line,
                        result);
}

void logAnswerError(const char* detail)
{
    FV_LOG_ERROR("Error in function fv_transfers::CZendeskAttachmentUploader::upload : Error parsing response from "
                 "Zendesk, received after file upload"
                 << detail);
}

} // namespace

dt_error CZendeskAttachmentUploader::upload(std::string& token)
{
    IHttpResponseBodyFetcher* bodyFetcher = nullptr;
    dt_error result = doUpload(bodyFetcher, {{"Content-Type", "application/binary"}});
    if (result == dt_success && !bodyFetcher)
        result = dt_general_error;
    if (result != dt_success) {
        logCheckFailure(__LINE__, result);
        return result;
    }
    // The answer holds the attachment token: it is read, never logged.
    std::string body;
    result = CFullHttpBodyRetriever(bodyFetcher, kMaxAnswerSize).retrieve(body);
    if (result != dt_success) {
        logCheckFailure(__LINE__, result);
        return result;
    }
    Json::Value root;
    if (!rest_json::parse(body, root)) {
        logAnswerError("");
        return dt_general_error;
    }
    const Json::Value* uploaded = rest_json::objectMember(root, "upload");
    if (!uploaded) {
        logAnswerError(": upload object is missing or invalid");
        return dt_general_error;
    }
    std::string read;
    if (!rest_json::getString(*uploaded, "token", read) || read.empty()) {
        logAnswerError(": token object is missing or invalid");
        return dt_general_error;
    }
    token = std::move(read);
    return dt_success;
}

} // namespace fv_transfers
