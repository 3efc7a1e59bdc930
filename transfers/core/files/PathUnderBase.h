#pragma once

#include <string>

namespace fv_transfers {

// Joins a relative path (as replaceUnsafeCharsInPath gives it) to a base folder, both UTF-8.
// Refuses an empty base, an empty, absolute or climbing relative path ("." or ".." segments),
// and a NUL byte, so the result always lies under the base. The check is on the text: links
// inside the base belong to the user and are followed as they are. out is set only on success.
bool joinUnderBase(const std::string& base, const std::string& relative, std::string& out);

} // namespace fv_transfers
