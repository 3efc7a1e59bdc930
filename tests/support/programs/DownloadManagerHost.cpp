#include "support/programs/DownloadManagerHost.h"

#include <utility>

namespace fv_test {

DownloadManagerHost::DownloadManagerHost(std::shared_ptr<LibraryHost> library,
                                         fv_transfers::CDownloadManager::ICallback* receiver)
    : m_library(std::move(library))
{
    m_manager.subscribeToEvents(receiver);
}

DownloadManagerHost::DownloadManagerHost(const HostOptions& options,
                                         fv_transfers::CDownloadManager::ICallback* receiver)
    : DownloadManagerHost(std::make_shared<LibraryHost>(options), receiver)
{
}

DownloadManagerHost::~DownloadManagerHost()
{
    m_manager.shutdown();
    m_manager.subscribeToEvents(nullptr);
}

} // namespace fv_test
