#pragma once

#include "core/rest/RestApiCallBase.h"

#include <string>

namespace fv_transfers {

// The upload-side calls POST about one file, and a successful answer must name that file:
// "file": {"id": <fileId>, "bucketId": <bucketId>}. Anything else is dt_general_error.
class CRestApiFileDetailsBase : public CRestApiCallBase {
public:
    using CRestApiCallBase::CRestApiCallBase;

    dt_error receiveResponse(Json::Value& root, bool parseBodyOnError) override;
    // Remembers the ids for the answer's check, adds them to the body as "fileId" and
    // "bucketId" and POSTs it.
    virtual dt_error sendFileRequest(const std::string& path, Json::Value body, const std::string& fileId,
                                     const std::string& bucketId);

protected:
    // The code of the answer, which must name the file; for calls without a result record.
    dt_error receiveFileResult();

    std::string m_fileId;
    std::string m_bucketId;
};

} // namespace fv_transfers
