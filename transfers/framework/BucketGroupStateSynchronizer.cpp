#include "framework/BucketGroupStateSynchronizer.h"

#include "framework/TrasfersAsyncTasksExecutor.h"

namespace fv_transfers {

// Placeholder until the status requests land: no group is checked.
CBucketGroupStateSynchronizer::CBucketGroupStateSynchronizer(CGroupManagerBase& groupManager,
                                                             std::shared_ptr<CTrasfersAsyncTasksExecutor> executor,
                                                             bool download, std::chrono::milliseconds bound)
    : m_groupManager(groupManager), m_executor(std::move(executor)), m_download(download), m_bound(bound)
{
}

CBucketGroupStateSynchronizer::~CBucketGroupStateSynchronizer() = default;

void CBucketGroupStateSynchronizer::initSync() {}

} // namespace fv_transfers
