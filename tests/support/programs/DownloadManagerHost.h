#pragma once

#include "support/programs/LibraryHost.h"

#include "download/DownloadManager.h"

#include <memory>

namespace fv_test {

// One download manager of the shipped library subscribed to one receiver: what the transfer
// driver and the transfer benchmark share. Uses only what the library exports. The receiver
// must outlive the host.
class DownloadManagerHost {
public:
    // Builds the manager (which restores the folder's groups) on a started library; the library
    // ends when its last host is gone.
    DownloadManagerHost(std::shared_ptr<LibraryHost> library, fv_transfers::CDownloadManager::ICallback* receiver);
    // Starts the library for this manager alone. Throws std::runtime_error when it does not start.
    DownloadManagerHost(const HostOptions& options, fv_transfers::CDownloadManager::ICallback* receiver);
    // Shuts the manager down and unsubscribes before it goes.
    ~DownloadManagerHost();
    DownloadManagerHost(const DownloadManagerHost&) = delete;
    DownloadManagerHost& operator=(const DownloadManagerHost&) = delete;

    fv_transfers::CDownloadManager& manager() { return m_manager; }

private:
    // First member: the library is up before the manager is built and ends after it is gone.
    std::shared_ptr<LibraryHost> m_library;
    fv_transfers::CDownloadManager m_manager;
};

} // namespace fv_test
