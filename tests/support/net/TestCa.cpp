#include "support/net/TestCa.h"

#include <cstdlib>
#include <stdexcept>

namespace fv_test {

namespace {

void run(const std::string& command)
{
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
        throw std::runtime_error("test CA: command failed: " + command);
}

} // namespace

const TestCa& TestCa::instance()
{
    static const TestCa ca;
    return ca;
}

TestCa::TestCa()
    : m_caFile(m_dir.file("ca.pem")), m_caKey(m_dir.file("ca.key")), m_serverCert(m_dir.file("server.pem")),
      m_serverKey(m_dir.file("server.key")), m_untrustedCert(m_dir.file("untrusted.pem")),
      m_untrustedKey(m_dir.file("untrusted.key")), m_otherNameCert(m_dir.file("other.pem")),
      m_otherNameKey(m_dir.file("other.key"))
{
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    run("openssl req -x509" + ec + " -keyout " + m_caKey + " -out " + m_caFile +
        " -days 2 -subj /CN=Ferrovan-Test-CA -addext basicConstraints=critical,CA:TRUE"
        " -addext keyUsage=critical,keyCertSign,cRLSign");
    // A server certificate signed by the CA for the given names.
    const auto issue = [&](const std::string& name, const std::string& altNames, const std::string& cert,
                           const std::string& key) {
        const std::string csr = m_dir.file(name + ".csr");
        const std::string ext = m_dir.file(name + ".ext");
        writeFile(ext, "subjectAltName=" + altNames + "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n");
        run("openssl req" + ec + " -keyout " + key + " -out " + csr + " -subj /CN=" + name);
        run("openssl x509 -req -in " + csr + " -CA " + m_caFile + " -CAkey " + m_caKey +
            " -CAcreateserial -days 2 -out " + cert + " -extfile " + ext);
    };
    issue("127.0.0.1", "IP:127.0.0.1,DNS:localhost", m_serverCert, m_serverKey);
    issue("other.test", "DNS:other.test", m_otherNameCert, m_otherNameKey);
    run("openssl req -x509" + ec + " -keyout " + m_untrustedKey + " -out " + m_untrustedCert +
        " -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1,DNS:localhost");
}

} // namespace fv_test
