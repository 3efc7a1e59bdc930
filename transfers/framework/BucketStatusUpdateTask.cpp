#include "framework/BucketStatusUpdateTask.h"

#include "core/log/FvTransfersLogger.h"
#include "core/rest/RestApiBucketStatusRetrieve.h"

namespace fv_transfers {

namespace {

// The status query, given up as soon as its run is asked to stop.
class StoppableStatusRetrieve : public CRestApiBucketStatusRetrieve {
public:
    explicit StoppableStatusRetrieve(const CStopToken& stop)
    {
        m_connection.interrupted = [&stop] { return stop.stopRequested(); };
    }
};

} // namespace

CBucketStatusUpdateTask::CBucketStatusUpdateTask(std::string bucketId, std::string token, StatusCallback callback)
    : m_bucketId(std::move(bucketId)), m_token(std::move(token)), m_callback(std::move(callback))
{
}

int CBucketStatusUpdateTask::exec(std::shared_ptr<CTrasfersAsyncTasksExecutor::IAsyncTaskParams>&,
                                  const CStopToken& stop)
{
    StoppableStatusRetrieve call(stop);
    dt_error code = call.execute(m_bucketId, m_token);
    if (code != dt_success) {
        FV_LOG_WARNING("Failed to send request to retrieve bucket status, error: " << code);
        return 2;
    }
    BucketStatusInfo status;
    status.uploadAllowed = true;
    code = call.getResult(status);
    if (code != dt_success) {
        FV_LOG_WARNING("Failed to update bucket status, error receiving REST response: " << code);
        return 2;
    }
    if (m_callback)
        m_callback(status);
    return 0;
}

} // namespace fv_transfers
