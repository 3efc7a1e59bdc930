#include "upload/UploadFileMultiPart.h"

#include "core/base/DtError.h"
#include "core/files/FileDigest.h"
#include "core/log/FvTransfersLogger.h"
#include "core/rest/RestApiMultiPartUploadComplete.h"
#include "core/rest/RestApiMultiPartUploadInitialize.h"

#include <Poco/Net/HTTPResponse.h>

namespace fv_transfers {

CUploadFileMultiPart::CUploadFileMultiPart(std::uint64_t minMultipartSize, const UploadFileEnvironment& environment)
    : CUploadFileBase(true, minMultipartSize, environment)
{
}

int CUploadFileMultiPart::digestParts(const CallContext& context, MultiPartInitParams& params, const CStopToken& stop)
{
    if (!calculateFileMd5Hex(params.md5Digest, context.localPath, 0, 0))
        return dt_local_file_error;
    std::uint64_t offset = 0;
    for (PartDesc& part : params.parts) {
        if (stop.stopRequested())
            return dt_interrupted;
        if (part.size > 0 && !calculateFileMd5Hex(part.md5Digest, context.localPath, offset, part.size))
            return dt_local_file_error;
        offset += part.size;
    }
    return dt_success;
}

int CUploadFileMultiPart::openUpload(const CallContext& context, OpenedUpload& upload, const CStopToken& stop)
{
    MultiPartInitParams params;
    static_cast<FileCallParams&>(params) = context.ids;
    params.fileSize = context.fileSize;
    for (const PartState& part : upload.parts)
        params.parts.push_back(PartDesc{part.part.number, part.part.size, std::string()});
    if (context.verify) {
        const int digested = digestParts(context, params, stop);
        if (digested != dt_success) {
            FV_LOG_ERROR(logPrefix() << "Unable to digest the local file");
            return digested;
        }
    }
    MultiPartInitResult result;
    int status = 0;
    const int opened = withOneRetry(
        [&] {
            CRestApiMultiPartUploadInitialize call;
            call.setTimeouts(kMultiPartInitializeTimeouts);
            dt_error error = call.execute(params);
            if (error == dt_success)
                error = call.getResult(result);
            status = call.httpStatus();
            return static_cast<int>(error);
        },
        dt_rest_client_error);
    if (opened != dt_success) {
        FV_LOG_ERROR(logPrefix() << "Unable to initiate the multipart upload. Error code: " << opened);
        bool refused = false;
        if (status == Poco::Net::HTTPResponse::HTTP_CONFLICT && probeFileStatus(context, refused) != dt_success &&
            refused)
            return dt_file_status_exception;
        return dt_rest_client_error;
    }
    FV_LOG_INFO("Initiated multipart upload of a file with uid " << context.ids.fileId);
    FV_LOG_INFO("Received upload id: " << result.uploadId);
    upload.uploadId = result.uploadId;
    for (std::size_t i = 0; i < upload.parts.size() && i < result.parts.size(); ++i) {
        PartState& part = upload.parts[i];
        part.url = result.parts[i].url;
        part.headers = result.parts[i].headers;
        part.urlExpires = static_cast<std::int64_t>(result.parts[i].expires / 1000);
        part.md5Hex = params.parts[i].md5Digest;
    }
    return dt_success;
}

int CUploadFileMultiPart::completeUpload(const CallContext& context, const std::string& uploadId, std::uint32_t parts)
{
    MultiPartCompleteParams params;
    static_cast<FileCallParams&>(params) = context.ids;
    params.uploadId = uploadId;
    params.numberOfParts = parts;
    int status = 0;
    const auto complete = [&] {
        CRestApiMultiPartUploadComplete call;
        dt_error error = call.execute(params);
        if (error == dt_success)
            error = call.getResult();
        status = call.httpStatus();
        return static_cast<int>(error);
    };
    if (complete() == dt_success)
        return dt_success;
    const int repeated = complete();
    if (repeated == dt_success)
        return dt_success;
    if (status == Poco::Net::HTTPResponse::HTTP_NOT_FOUND) {
        // The first complete may have closed the upload with its answer lost: the file's details
        // then tell that the service no longer takes it.
        bool refused = false;
        probeFileStatus(context, refused);
        if (refused) {
            FV_LOG_INFO(logPrefix() << "The multipart upload was already completed");
            return dt_success;
        }
    }
    FV_LOG_ERROR("Error calling multipart complete REST API!");
    return repeated;
}

void CUploadFileMultiPart::abandonUpload(const CallContext& context, const std::string& uploadId)
{
    abortMultipart(context, uploadId);
}

} // namespace fv_transfers
