#pragma once

#include "core/base/DtError.h"

#include <list>
#include <string>

namespace fv_transfers {

// Zips the files (UTF-8 paths) into archivePath, each under its file name alone, deflated at
// the maximum level. Names that repeat (ignoring case, as the unpacking side may) get " (2)",
// " (3)"... before the extension. dt_success, or dt_general_error with no archive left behind.
dt_error createZipArchive(const std::string& archivePath, const std::list<std::string>& files);

} // namespace fv_transfers
