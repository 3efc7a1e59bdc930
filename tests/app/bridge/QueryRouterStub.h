#pragma once

#include "FakeBrowser.h"
#include "FakeFrame.h"
#include "RecordingQueryCallback.h"
#include "browser/host/CefMessageRouterBrowserSide.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fv_test {

// Sends queries to one handler as the host's router does: a declined query is failed with the
// router's cancel reply. Returns every answer each query got.
class QueryRouterStub {
public:
    explicit QueryRouterStub(fvcef::CefMessageRouterBrowserSide::Handler& handler)
        : m_handler(handler), m_frame(new FakeFrame("http://127.0.0.1:8765/app")), m_browser(new FakeBrowser(m_frame))
    {
    }

    std::vector<QueryAnswer> send(const std::string& request)
    {
        fvcef::CefRefPtr<RecordingQueryCallback> callback(new RecordingQueryCallback);
        if (!m_handler.OnQuery(m_browser, m_frame, ++m_lastId, request, false, callback))
            callback->Failure(-1, "The query has been canceled");
        return callback->answers();
    }

private:
    fvcef::CefMessageRouterBrowserSide::Handler& m_handler;
    fvcef::CefRefPtr<FakeFrame> m_frame;
    fvcef::CefRefPtr<FakeBrowser> m_browser;
    std::int64_t m_lastId = 0;
};

} // namespace fv_test
