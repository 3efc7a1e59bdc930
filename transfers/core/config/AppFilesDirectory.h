#pragma once

#include <string>

namespace fv_transfers {

// The application files folder as UTF-8, created (mode 0700: the database and logs hold
// tokens) when missing. Errors creating it are swallowed; empty when no folder is set.
std::string getAppFilesDirectory();

} // namespace fv_transfers
