#pragma once

#include "upload/UploadFileBase.h"

namespace fv_transfers {

// A file sent in one PUT: the service's upload details give its URL, told the file's Base64 MD5;
// the hex MD5 is the ETag the channel expects.
class CUploadFileSinglePart : public CUploadFileBase {
public:
    CUploadFileSinglePart(std::uint64_t minMultipartSize, const UploadFileEnvironment& environment);

protected:
    int openUpload(const CallContext& context, OpenedUpload& upload, const CStopToken& stop) override;
    int completeUpload(const CallContext& context, const std::string& uploadId, std::uint32_t parts) override;
    void abandonUpload(const CallContext& context, const std::string& uploadId) override;
};

} // namespace fv_transfers
