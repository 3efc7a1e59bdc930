#include "core/http/TrustStoreCache.h"

#include "core/log/FvTransfersLogger.h"

#include <openssl/err.h>

#include <sys/stat.h>
#include <tuple>
#include <utility>

namespace fv_transfers {

namespace {

std::string openSslErrors()
{
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        text += text.empty() ? buffer : std::string("; ") + buffer;
    }
    return text;
}

} // namespace

bool CTrustStoreCache::FileIdentity::operator==(const FileIdentity& other) const
{
    return std::tie(present, device, inode, size, modifiedSec, modifiedNsec, changedSec, changedNsec) ==
           std::tie(other.present, other.device, other.inode, other.size, other.modifiedSec, other.modifiedNsec,
                    other.changedSec, other.changedNsec);
}

bool CTrustStoreCache::Key::operator==(const Key& other) const
{
    return sources.systemFile == other.sources.systemFile && sources.systemPath == other.sources.systemPath &&
           sources.extraFile == other.sources.extraFile && system == other.system && extra == other.extra;
}

CTrustStoreCache& CTrustStoreCache::getInstance()
{
    static CTrustStoreCache cache;
    return cache;
}

CTrustStoreCache::CTrustStoreCache(std::size_t capacity) : m_capacity(capacity > 0 ? capacity : 1) {}

CTrustStoreCache::Store CTrustStoreCache::acquire(const TrustSources& sources)
{
    const Key key{sources, identify(sources.systemFile), identify(sources.extraFile)};
    if (Store found = find(key))
        return found;
    Poco::FastMutex::ScopedLock building(m_buildMutex);
    // Another connection may have built it while this one waited.
    if (Store found = find(key))
        return found;
    Store built = build(sources);
    if (!built || X509_STORE_up_ref(built.get()) != 1)
        return nullptr;
    Store handedOut(built.get());
    Entry evicted;
    {
        Poco::FastMutex::ScopedLock lock(m_mutex);
        ++m_builds;
        m_entries.push_front(Entry{key, std::move(built)});
        if (m_entries.size() > m_capacity) {
            evicted = std::move(m_entries.back());
            m_entries.pop_back();
        }
    }
    // The evicted store, if no connection holds it any more, is freed here, outside the lock.
    return handedOut;
}

std::size_t CTrustStoreCache::size() const
{
    Poco::FastMutex::ScopedLock lock(m_mutex);
    return m_entries.size();
}

std::size_t CTrustStoreCache::buildCount() const
{
    Poco::FastMutex::ScopedLock lock(m_mutex);
    return m_builds;
}

CTrustStoreCache::Store CTrustStoreCache::find(const Key& key)
{
    Poco::FastMutex::ScopedLock lock(m_mutex);
    for (auto entry = m_entries.begin(); entry != m_entries.end(); ++entry) {
        if (!(entry->key == key))
            continue;
        if (X509_STORE_up_ref(entry->store.get()) != 1)
            return nullptr;
        m_entries.splice(m_entries.begin(), m_entries, entry);
        return Store(entry->store.get());
    }
    return nullptr;
}

CTrustStoreCache::FileIdentity CTrustStoreCache::identify(const std::string& file)
{
    FileIdentity identity;
    struct stat info {};
    if (file.empty() || ::stat(file.c_str(), &info) != 0)
        return identity;
    identity.present = true;
    identity.device = info.st_dev;
    identity.inode = info.st_ino;
    identity.size = static_cast<unsigned long long>(info.st_size);
    identity.modifiedSec = info.st_mtim.tv_sec;
    identity.modifiedNsec = info.st_mtim.tv_nsec;
    identity.changedSec = info.st_ctim.tv_sec;
    identity.changedNsec = info.st_ctim.tv_nsec;
    return identity;
}

// The store libcurl would have made from the system's defaults, with the same verification
// flags, plus the extra file.
CTrustStoreCache::Store CTrustStoreCache::build(const TrustSources& sources)
{
    ERR_clear_error();
    Store store(X509_STORE_new());
    if (!store) {
        FV_LOG_ERROR("Cannot create a certificate store");
        return nullptr;
    }
    if (!sources.systemFile.empty() && X509_STORE_load_file(store.get(), sources.systemFile.c_str()) != 1) {
        FV_LOG_ERROR("Cannot load the system CA certificates file " << sources.systemFile << ": " << openSslErrors());
        return nullptr;
    }
    // A hashed directory is only looked into while a chain is verified.
    if (!sources.systemPath.empty() && X509_STORE_load_path(store.get(), sources.systemPath.c_str()) != 1) {
        FV_LOG_ERROR("Cannot use the system CA certificates directory " << sources.systemPath << ": "
                                                                        << openSslErrors());
        return nullptr;
    }
    // OpenSSL adds a file's certificates only once all of them were read, so a failed file
    // leaves the store as it was.
    if (!sources.extraFile.empty() && X509_STORE_load_file(store.get(), sources.extraFile.c_str()) != 1)
        FV_LOG_ERROR("Cannot load the configured CA certificates file " << sources.extraFile << ": "
                                                                        << openSslErrors());
    // libcurl sets these on the stores it fills when the peer is verified and no CRL is used.
    if (X509_STORE_set_flags(store.get(), X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN) != 1) {
        FV_LOG_ERROR("Cannot set the certificate store's flags");
        return nullptr;
    }
    ERR_clear_error();
    return store;
}

} // namespace fv_transfers
