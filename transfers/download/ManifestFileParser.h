#pragma once

#include <json/json.h>

#include <cstdint>
#include <string>
#include <vector>

namespace fv_transfers {

// One part of a file that was uploaded in parts; `eTag` is the part's MD5 hex.
struct ManifestPart {
    uint32_t number = 0;
    uint64_t size = 0;
    std::string eTag;
};

// The service's multipart manifest: the parts in the order the service listed them, and the
// checksum of the whole file.
struct DownloadManifest {
    std::vector<ManifestPart> parts;
    std::string eTag;
};

// Checks a manifest's text and turns it into parts. A pure function of the text: nothing is
// fetched or stored, every rejection is logged. `manifest` is written only on success, so a
// rejected manifest never leaves half a part list behind.
class CManifestFileParser {
public:
    static constexpr unsigned kSuccess = 0;
    static constexpr unsigned kEmptyText = 1;
    static constexpr unsigned kMalformed = 2;

    // The part numbers must be exactly 1..N, each once (in any order), and every size above 0:
    // the download file lays the parts out back to back by number, so a gap, a repeat or an
    // empty part would put bytes at the wrong offset or ask for an inverted range.
    static unsigned parse(const std::string& text, DownloadManifest& manifest);
    static unsigned parseParts(const Json::Value& partsValue, DownloadManifest& manifest);
    static unsigned parsePart(const Json::Value& partValue, ManifestPart& part);

private:
    static unsigned checkLayout(const std::vector<ManifestPart>& parts);
};

} // namespace fv_transfers
