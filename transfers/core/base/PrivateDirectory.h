#pragma once

#include <string>

namespace fv_transfers {

// Creates `folder` (mode 0700: the database and logs in it hold tokens) and its missing
// parents when it does not exist. Errors are swallowed: opening files there fails on its own
// terms.
void createPrivateDirectory(const std::string& folder);

} // namespace fv_transfers
