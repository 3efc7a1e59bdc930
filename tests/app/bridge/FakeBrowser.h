#pragma once

#include "FakeFrame.h"
#include "browser/host/CefBaseRefCounted.h"
#include "browser/host/CefBrowser.h"

namespace fv_test {

// A browser whose main frame the test chooses (null: the page is gone).
class FakeBrowser : public fvcef::CefRefCounted<fvcef::CefBrowser> {
public:
    explicit FakeBrowser(fvcef::CefRefPtr<fvcef::CefFrame> mainFrame, int id = 1)
        : m_mainFrame(std::move(mainFrame)), m_id(id)
    {
    }

    fvcef::CefRefPtr<fvcef::CefBrowserHost> GetHost() override { return nullptr; }
    fvcef::CefRefPtr<fvcef::CefFrame> GetMainFrame() override { return m_mainFrame; }
    int GetIdentifier() override { return m_id; }
    bool IsPopup() override { return false; }
    bool IsSame(fvcef::CefRefPtr<fvcef::CefBrowser> that) override { return that.get() == this; }

private:
    fvcef::CefRefPtr<fvcef::CefFrame> m_mainFrame;
    int m_id;
};

} // namespace fv_test
