#pragma once

#include <string>

namespace fv_transfers {

// Ids and tokens reach the REST calls from the web page; these keep them from changing the
// shape of a request.
namespace rest_encoding {

// Letters, digits and "-._~", at most 256 characters, and neither "." nor "..": an id that
// stays one path segment however it is read.
bool isSafeId(const std::string& id);
// Any byte below 0x20 or 0x7f.
bool hasControlCharacter(const std::string& text);
// Every byte but letters, digits and "-._~" as %XX.
std::string encodeQueryValue(const std::string& value);
// The part of a path before its query, for log lines.
std::string withoutQuery(const std::string& path);

} // namespace rest_encoding
} // namespace fv_transfers
