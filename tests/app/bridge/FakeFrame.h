#pragma once

#include "browser/host/CefBaseRefCounted.h"
#include "browser/host/CefFrame.h"

#include <string>
#include <vector>

namespace fv_test {

// A frame that records the scripts it is asked to run.
class FakeFrame : public fvcef::CefRefCounted<fvcef::CefFrame> {
public:
    explicit FakeFrame(std::string url, bool main = true) : m_url(std::move(url)), m_main(main) {}

    bool IsMain() override { return m_main; }
    fvcef::CefString GetURL() override { return m_url; }
    void ExecuteJavaScript(const fvcef::CefString& code, const fvcef::CefString&, int) override
    {
        m_scripts.push_back(code.ToString());
    }
    void LoadURL(const fvcef::CefString& url) override { m_url = url.ToString(); }

    const std::vector<std::string>& scripts() const { return m_scripts; }

private:
    std::string m_url;
    bool m_main;
    std::vector<std::string> m_scripts;
};

} // namespace fv_test
