#pragma once

#include "support/fixtures/TestEnvironment.h"

#include <string>

namespace fv_test {

// A certificate authority made for this test process with the openssl command, and a server
// certificate it signed for 127.0.0.1 and localhost. For the refusal cases: a self-signed
// server certificate trusted by nobody, and one the CA signed for other.test only.
class TestCa {
public:
    static const TestCa& instance();

    const std::string& caFile() const { return m_caFile; }
    const std::string& serverCertFile() const { return m_serverCert; }
    const std::string& serverKeyFile() const { return m_serverKey; }
    const std::string& untrustedCertFile() const { return m_untrustedCert; }
    const std::string& untrustedKeyFile() const { return m_untrustedKey; }
    const std::string& otherNameCertFile() const { return m_otherNameCert; }
    const std::string& otherNameKeyFile() const { return m_otherNameKey; }

private:
    TestCa();

    TempDir m_dir;
    std::string m_caFile;
    std::string m_caKey;
    std::string m_serverCert;
    std::string m_serverKey;
    std::string m_untrustedCert;
    std::string m_untrustedKey;
    std::string m_otherNameCert;
    std::string m_otherNameKey;
};

} // namespace fv_test
