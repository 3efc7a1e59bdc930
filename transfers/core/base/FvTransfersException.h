#pragma once

#include <stdexcept>
#include <string>

namespace fv_transfers {

// The library's own exception; what() is "fv-transfers exception: " + the message.
class CFvTransfersException : public std::runtime_error {
public:
    explicit CFvTransfersException(const std::string& message);
};

// A bad argument: "Invalid argument in function: <function>, param: <param>".
class CInvalidParamException : public CFvTransfersException {
public:
    CInvalidParamException(const std::string& function, const std::string& param);
};

} // namespace fv_transfers
