#pragma once

#include "bridge/messages/MessageHandlerBase.h"

#include <Poco/SharedPtr.h>

namespace ferrovan {
namespace messages {

// The page process's messages about uploads; it takes none yet.
class CMessageHandlerUploadManager : public CMessageHandlerBase {
public:
    void setContext(const QueryHandlerContext& context) override;

protected:
    // The manager has one receiver of its events, the upload bridge's, and this handler never
    // took that place: it goes without unsubscribing, which would silence the bridge.
    ~CMessageHandlerUploadManager() override = default;

private:
    Poco::SharedPtr<fv_transfers::CUploadManager> m_uploadManager;
};

} // namespace messages
} // namespace ferrovan
