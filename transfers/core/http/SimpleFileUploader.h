#pragma once

#include "core/base/DtError.h"
#include "core/http/HttpResponseBodyFetcher.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace fv_transfers {

class CCurlConnection;
class CHttpResponseFetcher;

// Uploads one local file as the body of one POST (the help-desk attachment).
class CSimpleFileUploader {
public:
    using HeaderList = std::vector<std::pair<std::string, std::string>>;

    CSimpleFileUploader(const std::string& url, const std::string& filePath);
    ~CSimpleFileUploader();
    CSimpleFileUploader(const CSimpleFileUploader&) = delete;
    CSimpleFileUploader& operator=(const CSimpleFileUploader&) = delete;

    // dt_success for a final status of 2xx (interim 1xx answers are skipped), dt_network_error
    // for any other, dt_local_file_error when the file cannot be read (before anything is
    // sent), dt_general_error when it shrank; a failed send gives its own code (dt_timeout,
    // dt_network_error when the peer reset the connection).
    // `body` stays valid until the next upload or the uploader's destruction.
    dt_error doUpload(IHttpResponseBodyFetcher*& body, const HeaderList& headers);

    std::string url;
    std::string filePath;

private:
    std::unique_ptr<CCurlConnection> m_connection;
    std::unique_ptr<CHttpResponseFetcher> m_responseFetcher;
};

} // namespace fv_transfers
