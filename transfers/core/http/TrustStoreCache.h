#pragma once

#include <Poco/Mutex.h>

#include <openssl/x509_vfy.h>

#include <cstddef>
#include <list>
#include <memory>
#include <string>

namespace fv_transfers {

// Where the trusted certificates of a connection come from: the system's defaults (a bundle
// file and a hashed directory, as libcurl would use them; either may be empty) and the
// configured extra CA file (empty: none).
struct TrustSources {
    std::string systemFile;
    std::string systemPath;
    std::string extraFile;
};

// Process-wide cache of built trust stores. OpenSSL 3 takes a noticeable share of a second to
// parse the system bundle, which libcurl would do again for every connection: its own store
// cache cannot be used, since it knows nothing of the extra CA that we add. A store is keyed by
// its sources and the identity of their files (size, times, inode), so an edited or replaced
// file gives a new store. Stores are never changed once published, and OpenSSL counts their
// references: an evicted store lives on while a connection still uses it.
class CTrustStoreCache {
public:
    struct StoreRelease {
        void operator()(X509_STORE* store) const { X509_STORE_free(store); }
    };
    // One reference to a store.
    using Store = std::unique_ptr<X509_STORE, StoreRelease>;

    static CTrustStoreCache& getInstance();

    explicit CTrustStoreCache(std::size_t capacity = 4);
    CTrustStoreCache(const CTrustStoreCache&) = delete;
    CTrustStoreCache& operator=(const CTrustStoreCache&) = delete;

    // A store trusting the system's certificates and those of the extra file; null when the
    // system's certificates cannot be loaded. An extra file that cannot be read or holds no
    // certificate is logged and left out, as it always was: it can only add trust.
    Store acquire(const TrustSources& sources);

    // The stores kept.
    std::size_t size() const;
    // Stores built since the cache was made.
    std::size_t buildCount() const;

private:
    // What tells one content of a file from another without reading it.
    struct FileIdentity {
        bool present = false;
        unsigned long long device = 0, inode = 0, size = 0;
        long long modifiedSec = 0, modifiedNsec = 0, changedSec = 0, changedNsec = 0;
        bool operator==(const FileIdentity& other) const;
    };
    struct Key {
        TrustSources sources;
        FileIdentity system;
        FileIdentity extra;
        bool operator==(const Key& other) const;
    };
    struct Entry {
        Key key;
        Store store;
    };

    static FileIdentity identify(const std::string& file);

    Store find(const Key& key);
    static Store build(const TrustSources& sources);

    const std::size_t m_capacity;
    mutable Poco::FastMutex m_mutex; // the entries and the count
    std::list<Entry> m_entries;      // most recently used first
    std::size_t m_builds = 0;
    // Held while a store is built, so that connections starting together parse the bundle once;
    // lookups only take m_mutex and never wait for a build.
    Poco::FastMutex m_buildMutex;
};

} // namespace fv_transfers
