#include "core/log/ErrorCheckLog.h"

#include "core/log/FvTransfersLogger.h"

namespace fv_transfers {

void logErrorCheckFailed(const char* file, const char* function, int line, dt_error code)
{
    FV_LOG_ERROR("Error check failed in file: " << file << ", function: " << function << ", line: " << line
                                                << ". Error code: " << code);
}

} // namespace fv_transfers
