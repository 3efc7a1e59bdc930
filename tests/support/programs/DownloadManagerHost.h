#pragma once

#include "download/DownloadManager.h"

#include <string>

namespace fv_test {

struct HostOptions {
    std::string appFolder;
    std::string restUrl;
    std::string caFile; // empty: the system's
    bool trace = false; // verbose library log
};

// The shipped library started for one program with one download manager subscribed to one
// receiver: what the transfer driver and the transfer benchmark share. Uses only what the
// library exports. The receiver must outlive the host.
class DownloadManagerHost {
public:
    // Sets the library's global configuration, starts the library and builds the manager (which
    // restores the folder's groups). Throws std::runtime_error when the library does not start.
    DownloadManagerHost(const HostOptions& options, fv_transfers::CDownloadManager::ICallback* receiver);
    // Shuts the manager down and unsubscribes before it goes, then ends the library.
    ~DownloadManagerHost();
    DownloadManagerHost(const DownloadManagerHost&) = delete;
    DownloadManagerHost& operator=(const DownloadManagerHost&) = delete;

    fv_transfers::CDownloadManager& manager() { return m_manager; }

private:
    // First member: the library is up before the manager is built and ends after it is gone.
    class Library {
    public:
        explicit Library(const HostOptions& options);
        ~Library();
        Library(const Library&) = delete;
        Library& operator=(const Library&) = delete;
    };

    Library m_library;
    fv_transfers::CDownloadManager m_manager;
};

// Conversions at the library's wide-string interface (paths), in the locale's encoding.
std::wstring toWide(const std::string& text);
std::string toUtf8(const std::wstring& text);

} // namespace fv_test
