#pragma once

#include "upload/UploadFileBase.h"

namespace fv_transfers {

// A file sent in numbered parts of one multipart upload: opened by the initialize call (with the
// MD5s of the file and its parts when the group verifies uploads), closed by complete, given up by
// abort.
class CUploadFileMultiPart : public CUploadFileBase {
public:
    CUploadFileMultiPart(std::uint64_t minMultipartSize, const UploadFileEnvironment& environment);

protected:
    int openUpload(const CallContext& context, OpenedUpload& upload, const CStopToken& stop) override;
    // A complete whose answer was lost is sent again; the service may then not know the upload
    // any more (404), which is success only when it no longer takes the file.
    int completeUpload(const CallContext& context, const std::string& uploadId, std::uint32_t parts) override;
    void abandonUpload(const CallContext& context, const std::string& uploadId) override;

private:
    static int digestParts(const CallContext& context, MultiPartInitParams& params, const CStopToken& stop);
};

} // namespace fv_transfers
