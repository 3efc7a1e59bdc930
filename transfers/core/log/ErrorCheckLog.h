#pragma once

#include "core/base/DtError.h"

namespace fv_transfers {

// "Error check failed in file: <file>, function: <function>, line: <line>. Error code: <code>":
// the line that support tools search the log for when a checked step failed.
void logErrorCheckFailed(const char* file, const char* function, int line, dt_error code);

} // namespace fv_transfers
