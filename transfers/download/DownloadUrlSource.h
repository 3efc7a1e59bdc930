#pragma once

#include <string>

namespace fv_transfers {

// Where a download channel gets the URL of its file. The file holds one URL for all its
// channels and refreshes it once however many channels ask at the same time.
class IDownloadUrlSource {
public:
    virtual ~IDownloadUrlSource() = default;

    // Fills `url` with the file's download URL; `force` asks for a fresh one: `url` then holds
    // the refused URL (or is empty), and a URL that a refresh has already replaced is answered
    // with the current one, without another refresh. May block until the owner's refresh ends. 0 on success, 13 when
    // the service gave an unexpected answer, another dt_error otherwise.
    virtual int getDownloadUrl(std::string& url, bool force) = 0;
};

} // namespace fv_transfers
