#include "framework/FileProgressSenderHandle.h"

#include "core/log/FvTransfersLogger.h"
#include "framework/FileProgressSender.h"

#include <utility>

namespace fv_transfers {

CFileProgressSenderHandle::CFileProgressSenderHandle(std::string bucketId, std::string bucketToken)
    : CFileProgressSenderHandle(CFileProgressSender::getInstance(), std::move(bucketId), std::move(bucketToken))
{
    if (!m_sender)
        FV_LOG_ERROR("Unable to get instance of file progress sender!");
}

CFileProgressSenderHandle::CFileProgressSenderHandle(std::shared_ptr<CFileProgressSender> sender, std::string bucketId,
                                                     std::string bucketToken)
    : m_sender(std::move(sender)), m_bucketId(std::move(bucketId)), m_bucketToken(std::move(bucketToken))
{
}

void CFileProgressSenderHandle::sendProgress(const std::string& fileId, std::uint64_t progress) const
{
    if (m_sender)
        m_sender->sendProgress(fileId, m_bucketId, m_bucketToken, progress);
}

void CFileProgressSenderHandle::forgetFile(const std::string& fileId) const
{
    if (m_sender)
        m_sender->forgetFile(fileId);
}

} // namespace fv_transfers
