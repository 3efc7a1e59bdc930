#pragma once

#include "core/rest/RestTypes.h"

#include <string>
#include <vector>

namespace fv_transfers {

// Where an upload channel gets the URL and headers of its range: the one thing it needs from
// the file that owns it.
class IUploadDetailsSource {
public:
    virtual ~IUploadDetailsSource() = default;

    // Rewrites `url` and `headers` in place when the owner has fresher ones, and fills
    // `md5Bytes` with the digest of the range when the owner knows it. 0 = success; 13 ends the
    // run as a connection failure, any other value as a preparation failure.
    virtual int getUploadDetails(std::string& url, RestHeaderList& headers, std::vector<unsigned char>& md5Bytes) = 0;
    // The storage refused `url` (403): the next getUploadDetails for it takes a fresh one.
    virtual void onUrlRefused(const std::string& url) { (void)url; }
};

} // namespace fv_transfers
