#pragma once

#include "core/rest/TransferRestRecords.h"
#include "framework/TrasfersAsyncTasksExecutor.h"

#include <functional>
#include <string>

namespace fv_transfers {

// Asks the service for one bucket's status on the executor and hands the answer to its callback.
class CBucketStatusUpdateTask : public CTrasfersAsyncTasksExecutor::IAsyncTask {
public:
    using StatusCallback = std::function<void(const BucketStatusInfo&)>;

    CBucketStatusUpdateTask(std::string bucketId, std::string token, StatusCallback callback);

    // 0 when the status was obtained and reported, 2 otherwise.
    int exec(std::shared_ptr<CTrasfersAsyncTasksExecutor::IAsyncTaskParams>& params, const CStopToken& stop) override;

private:
    const std::string m_bucketId;
    const std::string m_token;
    const StatusCallback m_callback;
};

} // namespace fv_transfers
