#include "support/TestCa.h"

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
    : m_caFile(m_dir.file("ca.pem")),
      m_caKey(m_dir.file("ca.key")),
      m_serverCert(m_dir.file("server.pem")),
      m_serverKey(m_dir.file("server.key")),
      m_untrustedCert(m_dir.file("untrusted.pem")),
      m_untrustedKey(m_dir.file("untrusted.key"))
{
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    run("openssl req -x509" + ec + " -keyout " + m_caKey + " -out " + m_caFile +
        " -days 2 -subj /CN=Ferrovan-Test-CA -addext basicConstraints=critical,CA:TRUE"
        " -addext keyUsage=critical,keyCertSign,cRLSign");
    const std::string csr = m_dir.file("server.csr");
    const std::string ext = m_dir.file("server.ext");
    writeFile(ext, "subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n"
                   "extendedKeyUsage=serverAuth\n");
    run("openssl req" + ec + " -keyout " + m_serverKey + " -out " + csr + " -subj /CN=127.0.0.1");
    run("openssl x509 -req -in " + csr + " -CA " + m_caFile + " -CAkey " + m_caKey +
        " -CAcreateserial -days 2 -out " + m_serverCert + " -extfile " + ext);
    run("openssl req -x509" + ec + " -keyout " + m_untrustedKey + " -out " + m_untrustedCert +
        " -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1,DNS:localhost");
}

} // namespace fv_test
