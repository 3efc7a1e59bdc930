#include "support/programs/UploadManagerHost.h"

#include <utility>

namespace fv_test {

UploadManagerHost::UploadManagerHost(std::shared_ptr<LibraryHost> library,
                                     fv_transfers::CUploadManager::ICallback* receiver)
    : m_library(std::move(library))
{
    m_manager.subscribeToEvents(receiver);
}

UploadManagerHost::UploadManagerHost(const HostOptions& options, fv_transfers::CUploadManager::ICallback* receiver)
    : UploadManagerHost(std::make_shared<LibraryHost>(options), receiver)
{
}

UploadManagerHost::~UploadManagerHost()
{
    m_manager.shutdown();
    m_manager.subscribeToEvents(nullptr);
}

} // namespace fv_test
