#include "bridge/messages/MessageHandlerUploadManager.h"

namespace ferrovan {
namespace messages {

void CMessageHandlerUploadManager::setContext(const QueryHandlerContext& context)
{
    m_uploadManager = context.uploadManager;
}

} // namespace messages
} // namespace ferrovan
