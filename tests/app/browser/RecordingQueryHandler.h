#pragma once

#include "browser/host/CefMessageRouterBrowserSide.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fv_test {

// A bridge handler that answers "echo:" + the request, declines, or holds the query for the
// test to answer; it keeps what it was asked and told.
class RecordingQueryHandler : public fvcef::CefMessageRouterBrowserSide::Handler {
public:
    enum class Mode { Echo, Decline, Hold };

    Mode mode = Mode::Echo;
    std::vector<std::string> requests;
    std::vector<std::int64_t> canceled;
    std::map<std::int64_t, fvcef::CefRefPtr<fvcef::CefMessageRouterBrowserSide::Callback>> held;

    bool OnQuery(fvcef::CefRefPtr<fvcef::CefBrowser>, fvcef::CefRefPtr<fvcef::CefFrame>, std::int64_t query_id,
                 const fvcef::CefString& request, bool,
                 fvcef::CefRefPtr<fvcef::CefMessageRouterBrowserSide::Callback> callback) override
    {
        requests.push_back(request);
        switch (mode) {
        case Mode::Decline: return false;
        case Mode::Hold: held[query_id] = callback; return true;
        case Mode::Echo: break;
        }
        callback->Success("echo:" + request.ToString());
        return true;
    }

    void OnQueryCanceled(fvcef::CefRefPtr<fvcef::CefBrowser>, fvcef::CefRefPtr<fvcef::CefFrame>,
                         std::int64_t query_id) override
    {
        canceled.push_back(query_id);
    }
};

} // namespace fv_test
