#include "core/http/TrustStoreCache.h"

#include "support/fixtures/TestEnvironment.h"
#include "support/net/TestCa.h"

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace fv_transfers;

namespace {

// Whether the store trusts the certificate in `certFile` (chain only, no name).
bool trusts(X509_STORE* store, const std::string& certFile)
{
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(certFile.c_str(), "r"), &std::fclose);
    if (!file)
        return false;
    std::unique_ptr<X509, void (*)(X509*)> cert(PEM_read_X509(file.get(), nullptr, nullptr, nullptr), &X509_free);
    std::unique_ptr<X509_STORE_CTX, void (*)(X509_STORE_CTX*)> context(X509_STORE_CTX_new(), &X509_STORE_CTX_free);
    return cert && context && X509_STORE_CTX_init(context.get(), store, cert.get(), nullptr) == 1 &&
           X509_verify_cert(context.get()) == 1;
}

// Puts `content` at `path` the way package managers and editors do: a new file renamed over it.
void replaceFile(const std::string& path, const std::string& content)
{
    fv_test::writeFile(path + ".new", content);
    ASSERT_EQ(0, std::rename((path + ".new").c_str(), path.c_str()));
}

} // namespace

TEST(TrustStoreCache, OneStorePerSourcesUntilAFileChanges)
{
    const auto& ca = fv_test::TestCa::instance();
    const fv_test::TempDir dir;
    const std::string caFile = dir.file("extra.pem");
    fv_test::writeFile(caFile, fv_test::readFile(ca.caFile()));
    CTrustStoreCache cache(2);
    const TrustSources sources{"", "", caFile};

    const CTrustStoreCache::Store first = cache.acquire(sources);
    const CTrustStoreCache::Store again = cache.acquire(sources);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first.get(), again.get());
    EXPECT_EQ(1u, cache.buildCount());
    EXPECT_TRUE(trusts(first.get(), ca.serverCertFile()));

    replaceFile(caFile, fv_test::readFile(ca.untrustedCertFile()));
    const CTrustStoreCache::Store replaced = cache.acquire(sources);
    ASSERT_NE(nullptr, replaced);
    EXPECT_NE(first.get(), replaced.get());
    EXPECT_FALSE(trusts(replaced.get(), ca.serverCertFile()));
    EXPECT_TRUE(trusts(replaced.get(), ca.untrustedCertFile()));
    // The store made before is unchanged for whoever still holds it.
    EXPECT_TRUE(trusts(first.get(), ca.serverCertFile()));
}

TEST(TrustStoreCache, KeepsFewStoresAndEvictedOnesLiveWhileHeld)
{
    const auto& ca = fv_test::TestCa::instance();
    CTrustStoreCache cache(2);
    const CTrustStoreCache::Store held = cache.acquire({"", "", ca.caFile()});
    ASSERT_NE(nullptr, held);
    for (const std::string& extra : {std::string(), ca.untrustedCertFile(), ca.otherNameCertFile()})
        EXPECT_NE(nullptr, cache.acquire({"", "", extra})) << extra;
    EXPECT_EQ(2u, cache.size());
    EXPECT_TRUE(trusts(held.get(), ca.serverCertFile()));
    // Evicted, so made again.
    const CTrustStoreCache::Store remade = cache.acquire({"", "", ca.caFile()});
    EXPECT_NE(held.get(), remade.get());
    EXPECT_EQ(5u, cache.buildCount());
}

TEST(TrustStoreCache, SourcesThatCannotBeLoadedGiveNoStoreOrOnlyTheSystemOnes)
{
    const auto& ca = fv_test::TestCa::instance();
    const fv_test::TempDir dir;
    const std::string garbage = dir.file("garbage.pem");
    fv_test::writeFile(garbage, "not a certificate\n");
    CTrustStoreCache cache;
    // Without its system certificates a store would trust too little or nothing: no store.
    EXPECT_EQ(nullptr, cache.acquire({dir.file("missing.pem"), "", ca.caFile()}));
    EXPECT_EQ(nullptr, cache.acquire({garbage, "", ""}));
    // The extra file can only add trust; without it the system certificates remain.
    for (const std::string& extra : {dir.file("missing.pem"), garbage}) {
        const CTrustStoreCache::Store store = cache.acquire({ca.caFile(), "", extra});
        ASSERT_NE(nullptr, store) << extra;
        EXPECT_TRUE(trusts(store.get(), ca.serverCertFile())) << extra;
        EXPECT_FALSE(trusts(store.get(), ca.untrustedCertFile())) << extra;
    }
}
