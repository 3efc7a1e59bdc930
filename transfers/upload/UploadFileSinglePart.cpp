#include "upload/UploadFileSinglePart.h"

#include "core/base/DtError.h"
#include "core/files/FileDigest.h"
#include "core/log/FvTransfersLogger.h"
#include "core/rest/RestApiFileDetailsFetch.h"
#include "core/rest/RestApiFileStatusUpdate.h"

#include <Poco/DigestEngine.h>

namespace fv_transfers {

CUploadFileSinglePart::CUploadFileSinglePart(std::uint64_t minMultipartSize, const UploadFileEnvironment& environment)
    : CUploadFileBase(false, minMultipartSize, environment)
{
}

int CUploadFileSinglePart::openUpload(const CallContext& context, OpenedUpload& upload, const CStopToken& stop)
{
    FV_LOG_INFO("Initiating single-part upload of a file with uid " << context.ids.fileId);
    Poco::DigestEngine::Digest digest;
    std::string base64;
    if (!calculateFileMd5Digest(digest, context.localPath) ||
        !base64Encode(std::vector<unsigned char>(digest.begin(), digest.end()), base64)) {
        FV_LOG_ERROR(logPrefix() << "Unable to digest the local file");
        return dt_local_file_error;
    }
    if (stop.stopRequested())
        return dt_interrupted;
    UploadDetailsRequestParams params;
    static_cast<FileCallParams&>(params) = context.ids;
    params.md5Digest = base64;
    params.fileSize = context.fileSize;
    FileUploadDetails details;
    const int result = withOneRetry(
        [&] {
            CRestApiFileDetailsFetch call;
            call.setTimeouts(kUploadDetailsTimeouts);
            dt_error error = call.execute(params);
            if (error == dt_success)
                error = call.getResult(details);
            return static_cast<int>(error);
        },
        dt_rest_client_error);
    if (result != dt_success) {
        FV_LOG_ERROR("Error calling REST API when fetching file details!");
        return details.fileStatusException ? static_cast<int>(dt_file_status_exception) : result;
    }
    PartState& part = upload.parts.at(0);
    part.url = details.url;
    part.headers = details.headers;
    part.urlExpires = static_cast<std::int64_t>(details.expires / 1000);
    part.md5Hex = Poco::DigestEngine::digestToHex(digest);
    return dt_success;
}

int CUploadFileSinglePart::completeUpload(const CallContext&, const std::string&, std::uint32_t)
{
    // The storage's ETag, checked by the channel, is the whole acknowledgement.
    return dt_success;
}

void CUploadFileSinglePart::abandonUpload(const CallContext& context, const std::string&)
{
    FileStatusRequestParams params;
    static_cast<FileCallParams&>(params) = context.ids;
    params.status = REST_FILE_CANCELLED;
    const int result = withOneRetry([&] {
        CRestApiFileStatusUpdate call;
        dt_error error = call.execute(params);
        if (error == dt_success)
            error = call.getResult();
        return static_cast<int>(error);
    });
    FV_LOG_INFO("Reported the upload of a file with uid " << context.ids.fileId << " cancelled. Result: " << result);
}

} // namespace fv_transfers
