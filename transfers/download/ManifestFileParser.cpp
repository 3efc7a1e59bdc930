#include "download/ManifestFileParser.h"

#include "core/log/FvTransfersLogger.h"
#include "core/rest/RestJson.h"

#include <limits>

namespace fv_transfers {

namespace {

unsigned rejectKey(const char* key)
{
    FV_LOG_ERROR("Manifest File Parser: key doesn't exist or has wrong format: " << key);
    return CManifestFileParser::kMalformed;
}

// Both the file and each part carry a checksum that must be a string and not empty.
unsigned readChecksum(const Json::Value& object, std::string& out, const char* emptyMessage)
{
    if (!rest_json::getString(object, "eTag", out))
        return rejectKey("eTag");
    if (out.empty()) {
        FV_LOG_ERROR(emptyMessage);
        return CManifestFileParser::kMalformed;
    }
    return CManifestFileParser::kSuccess;
}

} // namespace

unsigned CManifestFileParser::parse(const std::string& text, DownloadManifest& manifest)
{
    if (text.empty()) {
        FV_LOG_ERROR("Empty content passed to manifest file parser!");
        return kEmptyText;
    }
    Json::Value root;
    if (!rest_json::parse(text, root)) {
        FV_LOG_ERROR("Failed to parse manifest file, invalid json!");
        return kMalformed;
    }
    DownloadManifest parsed;
    const Json::Value* parts = rest_json::member(root, "parts");
    if (!parts || !parts->isArray())
        return rejectKey("parts");
    if (const unsigned result = parseParts(*parts, parsed); result != kSuccess)
        return result;
    if (const unsigned result = readChecksum(root, parsed.eTag, "Manifest File Parser: File MD5 checksum is empty");
        result != kSuccess)
        return result;
    manifest = std::move(parsed);
    return kSuccess;
}

unsigned CManifestFileParser::parseParts(const Json::Value& partsValue, DownloadManifest& manifest)
{
    if (!partsValue.isArray())
        return rejectKey("parts");
    if (partsValue.empty()) {
        FV_LOG_ERROR("Manifest File Parser: parts array is empty");
        return kMalformed;
    }
    std::vector<ManifestPart> parts(partsValue.size());
    for (Json::ArrayIndex i = 0; i < partsValue.size(); ++i) {
        if (!partsValue[i].isObject()) {
            FV_LOG_ERROR("Manifest File Parser: part with index " << i << " is not an object!");
            return kMalformed;
        }
        if (const unsigned result = parsePart(partsValue[i], parts[i]); result != kSuccess)
            return result;
    }
    if (const unsigned result = checkLayout(parts); result != kSuccess)
        return result;
    manifest.parts = std::move(parts);
    return kSuccess;
}

unsigned CManifestFileParser::parsePart(const Json::Value& partValue, ManifestPart& part)
{
    ManifestPart parsed;
    if (!rest_json::getUInt64(partValue, "size", parsed.size))
        return rejectKey("size");
    if (parsed.size == 0) {
        FV_LOG_ERROR("Manifest File Parser: part has zero size!");
        return kMalformed;
    }
    uint64_t number = 0;
    if (!rest_json::getUInt64(partValue, "number", number) || number > std::numeric_limits<uint32_t>::max())
        return rejectKey("number");
    parsed.number = static_cast<uint32_t>(number);
    if (const unsigned result =
            readChecksum(partValue, parsed.eTag, "Manifest File Parser: checksum of part is empty!");
        result != kSuccess)
        return result;
    part = std::move(parsed);
    return kSuccess;
}

// N numbers that all lie in 1..N with no repeat are exactly 1..N, so no gap can hide.
// The sizes must also add up without overflow: the file lays the parts out by their sum.
unsigned CManifestFileParser::checkLayout(const std::vector<ManifestPart>& parts)
{
    std::vector<bool> seen(parts.size(), false);
    uint64_t total = 0;
    for (const ManifestPart& part : parts) {
        if (part.number == 0 || part.number > parts.size()) {
            FV_LOG_ERROR("Manifest File Parser: part number " << part.number << " is outside 1.." << parts.size());
            return kMalformed;
        }
        if (seen[part.number - 1]) {
            FV_LOG_ERROR("Manifest File Parser: part number " << part.number << " appears more than once");
            return kMalformed;
        }
        seen[part.number - 1] = true;
        if (part.size > std::numeric_limits<uint64_t>::max() - total) {
            FV_LOG_ERROR("Manifest File Parser: total size of parts does not fit in 64 bits");
            return kMalformed;
        }
        total += part.size;
    }
    return kSuccess;
}

} // namespace fv_transfers
