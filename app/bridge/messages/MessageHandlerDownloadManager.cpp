#include "bridge/messages/MessageHandlerDownloadManager.h"

namespace ferrovan {
namespace messages {

void CMessageHandlerDownloadManager::setContext(const QueryHandlerContext& context)
{
    m_browser = context.browser;
    m_downloadManager = context.downloadManager;
}

} // namespace messages
} // namespace ferrovan
