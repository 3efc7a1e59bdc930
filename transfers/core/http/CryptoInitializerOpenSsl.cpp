#include "core/http/CryptoInitializerOpenSsl.h"

#include "core/log/FvTransfersLogger.h"

#include <openssl/ssl.h>

namespace fv_transfers {

void CCryptoInitializerOpenSsl::initialize()
{
    if (OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr) != 1)
        FV_LOG_ERROR("CCryptoInitializerOpenSsl::initialize: OpenSSL initialisation failed");
}

void CCryptoInitializerOpenSsl::uninitialize() {}

} // namespace fv_transfers
