#pragma once

#include "support/TestEnvironment.h"

#include <string>

namespace fv_test {

// A certificate authority made for this test process with the openssl command, and a server
// certificate it signed for 127.0.0.1 and localhost. A second, self-signed server
// certificate is trusted by nobody, for the refusal cases.
class TestCa {
public:
    static const TestCa& instance();

    const std::string& caFile() const { return m_caFile; }
    const std::string& serverCertFile() const { return m_serverCert; }
    const std::string& serverKeyFile() const { return m_serverKey; }
    const std::string& untrustedCertFile() const { return m_untrustedCert; }
    const std::string& untrustedKeyFile() const { return m_untrustedKey; }

private:
    TestCa();

    TempDir m_dir;
    std::string m_caFile;
    std::string m_caKey;
    std::string m_serverCert;
    std::string m_serverKey;
    std::string m_untrustedCert;
    std::string m_untrustedKey;
};

} // namespace fv_test
