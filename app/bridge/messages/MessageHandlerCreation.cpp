#include "bridge/messages/MessageHandlerCreation.h"

#include "bridge/messages/MessageHandlerDownloadManager.h"
#include "bridge/messages/MessageHandlerList.h"
#include "bridge/messages/MessageHandlerUploadManager.h"

namespace ferrovan {
namespace messages {

void createMessageHandlers()
{
    MessageHandlerList& list = MessageHandlerList::getInstance();
    list.addHandler(new CMessageHandlerUploadManager);
    list.addHandler(new CMessageHandlerDownloadManager);
}

} // namespace messages
} // namespace ferrovan
