#include "core/base/FvTransfersException.h"

namespace fv_transfers {

CFvTransfersException::CFvTransfersException(const std::string& message)
    : std::runtime_error("fv-transfers exception: " + message)
{
}

CInvalidParamException::CInvalidParamException(const std::string& function, const std::string& param)
    : CFvTransfersException("Invalid argument in function: " + function + ", param: " + param)
{
}

} // namespace fv_transfers
