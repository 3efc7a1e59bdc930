#pragma once

#include "shell/ProxyAuth.h"

namespace ferrovan {

// A GtkDialog "Proxy Authentication" that shows the proxy's host and realm and asks for a user
// name and a hidden password.
class ProxyAuthLinux : public IProxyAuth {
public:
    bool promptCredentials(INativeUiDataHolder* parent, const std::string& requestText1,
                           const std::string& requestText2, std::string& user, std::string& password) override;
};

} // namespace ferrovan
