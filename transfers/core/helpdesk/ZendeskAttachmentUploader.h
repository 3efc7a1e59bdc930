#pragma once

#include "core/base/DtError.h"
#include "core/http/SimpleFileUploader.h"

#include <string>

namespace fv_transfers {

// Uploads the report archive to the help desk, which answers with the attachment's token.
class CZendeskAttachmentUploader : public CSimpleFileUploader {
public:
    using CSimpleFileUploader::CSimpleFileUploader;

    // dt_success with `token` set; the upload's own code when it fails (dt_network_error for
    // a status of 300 or more); dt_general_error when the answer carries no "upload"."token".
    dt_error upload(std::string& token);
};

} // namespace fv_transfers
