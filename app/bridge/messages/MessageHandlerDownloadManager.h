#pragma once

#include "bridge/messages/MessageHandlerBase.h"

#include <Poco/SharedPtr.h>

namespace ferrovan {
namespace messages {

// The page process's messages about downloads; it takes none yet.
class CMessageHandlerDownloadManager : public CMessageHandlerBase {
public:
    void setContext(const QueryHandlerContext& context) override;

protected:
    ~CMessageHandlerDownloadManager() override = default;

private:
    fvcef::CefRefPtr<fvcef::CefBrowser> m_browser;
    Poco::SharedPtr<fv_transfers::CDownloadManager> m_downloadManager;
};

} // namespace messages
} // namespace ferrovan
