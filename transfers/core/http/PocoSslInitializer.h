#pragma once

#include "core/http/ConnectionSettings.h"

#include <Poco/AutoPtr.h>
#include <Poco/Net/Context.h>
#include <Poco/Net/InvalidCertificateHandler.h>
#include <Poco/Net/PrivateKeyPassphraseHandler.h>
#include <Poco/SharedPtr.h>

namespace fv_transfers {

// The TLS client context that each manager proxy holds for its lifetime. Peers are
// verified against the system store plus the configured CA file; a certificate that fails
// verification is refused, never waved through.
class CPocoSslInitializer {
public:
    class CInvalidCertificateHandler : public Poco::Net::InvalidCertificateHandler {
    public:
        CInvalidCertificateHandler();
        void onInvalidCertificate(const void* sender, Poco::Net::VerificationErrorArgs& errorCert) override;
    };

    // The CA file of the library's configuration.
    CPocoSslInitializer();
    explicit CPocoSslInitializer(const ConnectionSettings& settings);
    ~CPocoSslInitializer();
    CPocoSslInitializer(const CPocoSslInitializer&) = delete;
    CPocoSslInitializer& operator=(const CPocoSslInitializer&) = delete;

    Poco::Net::Context::Ptr context() const { return m_context; }

private:
    Poco::SharedPtr<Poco::Net::PrivateKeyPassphraseHandler> m_passphraseHandler;
    Poco::SharedPtr<Poco::Net::InvalidCertificateHandler> m_certificateHandler;
    Poco::AutoPtr<Poco::Net::Context> m_context;
};

} // namespace fv_transfers
