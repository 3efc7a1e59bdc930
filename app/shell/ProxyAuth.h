#pragma once

#include <memory>
#include <string>

namespace ferrovan {

class INativeUiDataHolder;

// Asks the user for the proxy's credentials.
class IProxyAuth {
public:
    virtual ~IProxyAuth() = default;
    // `requestText1` and `requestText2` are the proxy's host and realm, as the browser's request
    // gives them. True with `user` and `password` set when the user confirmed; false, with both
    // untouched, when the prompt was cancelled or closed.
    virtual bool promptCredentials(INativeUiDataHolder* parent, const std::string& requestText1,
                                   const std::string& requestText2, std::string& user, std::string& password) = 0;
};

std::unique_ptr<IProxyAuth> createProxyAuth();

} // namespace ferrovan
