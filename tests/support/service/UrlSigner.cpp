#include "support/service/UrlSigner.h"

#include <Poco/DigestEngine.h>
#include <Poco/HMACEngine.h>
#include <Poco/NumberParser.h>
#include <Poco/SHA2Engine.h>

#include <chrono>

namespace fv_test {

namespace {

class Sha256 : public Poco::SHA2Engine {
public:
    enum { BLOCK_SIZE = 64, DIGEST_SIZE = 32 };
    Sha256() : Poco::SHA2Engine(Poco::SHA2Engine::SHA_256) {}
};

} // namespace

UrlSigner::UrlSigner(std::string secret) : m_secret(std::move(secret)) {}

std::string UrlSigner::signQuery(const std::string& path, int64_t expiresAt) const
{
    const std::string expires = std::to_string(expiresAt);
    return "expires=" + expires + "&signature=" + signature(path, expires);
}

UrlSigner::Verdict UrlSigner::check(const std::string& path, const std::string& expires,
                                    const std::string& givenSignature) const
{
    if (expires.empty() || givenSignature.empty())
        return Verdict::Missing;
    Poco::Int64 expiresAt = 0;
    if (!Poco::NumberParser::tryParse64(expires, expiresAt) || givenSignature != signature(path, expires))
        return Verdict::BadSignature;
    return expiresAt <= now() ? Verdict::Expired : Verdict::Valid;
}

int64_t UrlSigner::now()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string UrlSigner::signature(const std::string& path, const std::string& expires) const
{
    Poco::HMACEngine<Sha256> hmac(m_secret);
    hmac.update(path + "\n" + expires);
    return Poco::DigestEngine::digestToHex(hmac.digest());
}

} // namespace fv_test
