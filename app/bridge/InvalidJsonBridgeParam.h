#pragma once

#include <exception>
#include <string>

namespace ferrovan {

// A bridge method's parameter is missing or of the wrong type; the page receives the message.
class CInvalidJsonBridgeParam : public std::exception {
public:
    CInvalidJsonBridgeParam(const std::string& function, const std::string& parameter);
    const char* what() const noexcept override;

private:
    std::string m_message;
};

} // namespace ferrovan
