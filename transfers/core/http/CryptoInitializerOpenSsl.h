#pragma once

#include "core/http/CryptoInitializer.h"

namespace fv_transfers {

// OpenSSL 3 locks internally and its locking-callback interface is gone, so all that is left is
// to load its error strings and algorithms once, before threads use it.
class CCryptoInitializerOpenSsl : public ICryptoInitializer {
public:
    void initialize() override;
    void uninitialize() override;
};

} // namespace fv_transfers
