#include "core/http/PocoSslInitializer.h"

#include "core/log/FvTransfersLogger.h"

#include <Poco/Net/KeyConsoleHandler.h>
#include <Poco/Net/NetSSL.h>
#include <Poco/Net/SSLManager.h>
#include <Poco/Net/VerificationErrorArgs.h>

namespace fv_transfers {

CPocoSslInitializer::CInvalidCertificateHandler::CInvalidCertificateHandler()
    : Poco::Net::InvalidCertificateHandler(false)
{
}

void CPocoSslInitializer::CInvalidCertificateHandler::onInvalidCertificate(const void*,
                                                                           Poco::Net::VerificationErrorArgs& errorCert)
{
    FV_LOG_ERROR("CPocoSslInitializer: certificate refused: " << errorCert.errorMessage());
    errorCert.setIgnoreError(false);
}

CPocoSslInitializer::CPocoSslInitializer() : CPocoSslInitializer(connectionSettingsFromConfig()) {}

CPocoSslInitializer::CPocoSslInitializer(const ConnectionSettings& settings)
    : m_passphraseHandler(new Poco::Net::KeyConsoleHandler(false)),
      m_certificateHandler(new CInvalidCertificateHandler())
{
    Poco::Net::Context::Params params;
    params.caLocation = settings.caCertificatesFile;
    params.verificationMode = Poco::Net::Context::VERIFY_RELAXED;
    params.verificationDepth = 9;
    params.loadDefaultCAs = true;
    params.cipherList = "ALL:!ADH:!LOW:!EXP:!MD5:@STRENGTH";
    m_context = new Poco::Net::Context(Poco::Net::Context::CLIENT_USE, params);
    Poco::Net::initializeNetwork();
    Poco::Net::initializeSSL();
    Poco::Net::SSLManager::instance().initializeClient(m_passphraseHandler, m_certificateHandler, m_context);
}

CPocoSslInitializer::~CPocoSslInitializer()
{
    Poco::Net::uninitializeSSL();
    Poco::Net::uninitializeNetwork();
}

} // namespace fv_transfers
