#pragma once

#include <string>

namespace fv_transfers {

// Turns a download destination into the local folder files are placed under. Only a "file:"
// URL of an existing local folder is accepted; anything else (a "bookmark:" URI, another
// scheme, a missing folder, a file) is refused, so that a group never places files under an
// empty or wrong folder. `output` is set on success only.
bool resolveBookmarkUri(const std::wstring& input, std::wstring& output);

} // namespace fv_transfers
