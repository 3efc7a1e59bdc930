#include "bridge/InvalidJsonBridgeParam.h"

namespace ferrovan {

CInvalidJsonBridgeParam::CInvalidJsonBridgeParam(const std::string& function, const std::string& parameter)
    // The two blanks before "param" are what the page has always received.
    : m_message("Json arg is missing or has wrong format. Func: " + function + ",  param: " + parameter)
{
}

const char* CInvalidJsonBridgeParam::what() const noexcept
{
    return m_message.c_str();
}

} // namespace ferrovan
