#pragma once

#include "browser/host/CefBaseRefCounted.h"
#include "browser/host/CefMessageRouterBrowserSide.h"

#include <string>
#include <vector>

namespace fv_test {

// One answer a query received.
struct QueryAnswer {
    bool success = false;
    int code = 0;     // failures only
    std::string text; // the reply or the failure's message
};

// Keeps every answer, so a test sees a second one as well as a missing one.
class RecordingQueryCallback : public fvcef::CefRefCounted<fvcef::CefMessageRouterBrowserSide::Callback> {
public:
    void Success(const fvcef::CefString& response) override { m_answers.push_back({true, 0, response}); }
    void Failure(int code, const fvcef::CefString& message) override { m_answers.push_back({false, code, message}); }

    const std::vector<QueryAnswer>& answers() const { return m_answers; }

private:
    std::vector<QueryAnswer> m_answers;
};

} // namespace fv_test
