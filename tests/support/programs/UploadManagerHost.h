#pragma once

#include "support/programs/LibraryHost.h"

#include "upload/UploadManager.h"

#include <memory>

namespace fv_test {

// One upload manager of the shipped library subscribed to one receiver, on a library it shares
// with the program's other managers. Uses only what the library exports. The receiver must
// outlive the host.
class UploadManagerHost {
public:
    // Builds the manager (which restores the folder's upload groups) on a started library; the
    // library ends when its last host is gone.
    UploadManagerHost(std::shared_ptr<LibraryHost> library, fv_transfers::CUploadManager::ICallback* receiver);
    // Starts the library for this manager alone. Throws std::runtime_error when it does not start.
    UploadManagerHost(const HostOptions& options, fv_transfers::CUploadManager::ICallback* receiver);
    // Shuts the manager down and unsubscribes before it goes.
    ~UploadManagerHost();
    UploadManagerHost(const UploadManagerHost&) = delete;
    UploadManagerHost& operator=(const UploadManagerHost&) = delete;

    fv_transfers::CUploadManager& manager() { return m_manager; }

private:
    // First member: the library ends after the manager is gone.
    std::shared_ptr<LibraryHost> m_library;
    fv_transfers::CUploadManager m_manager;
};

} // namespace fv_test
