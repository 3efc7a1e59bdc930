#pragma once

#include <cstdint>
#include <string>

namespace fv_test {

// Storage URLs carry "expires=<Unix seconds>&signature=<hex HMAC-SHA256 of path and expiry>";
// the service refuses them with 403 once expired or when the signature does not fit.
class UrlSigner {
public:
    enum class Verdict { Valid, Missing, Expired, BadSignature };

    explicit UrlSigner(std::string secret);

    // The query (without '?') that signs `path` (raw) until `expiresAt`.
    std::string signQuery(const std::string& path, int64_t expiresAt) const;
    Verdict check(const std::string& path, const std::string& expires, const std::string& signature) const;

    static int64_t now();

private:
    std::string signature(const std::string& path, const std::string& expires) const;

    const std::string m_secret;
};

} // namespace fv_test
