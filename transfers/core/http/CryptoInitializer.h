#pragma once

namespace fv_transfers {

// Process-wide set-up of the crypto library that libcurl and POCO share.
class ICryptoInitializer {
public:
    virtual ~ICryptoInitializer() = default;
    virtual void initialize() = 0;
    virtual void uninitialize() = 0;
};

} // namespace fv_transfers
