#pragma once

#include "browser/host/CefClient.h"
#include "browser/host/CefMessageRouterBrowserSide.h"

#include <functional>
#include <string>
#include <vector>

namespace fv_test {

// A client that keeps what its browser told it and hands the router what a host hands it.
// Answers come from the test's functions; each defaults to what the layer does without them.
class RecordingClient : public fvcef::CefRefCounted<fvcef::CefClient> {
public:
    struct LoadError {
        fvcef::cef_errorcode_t code;
        std::string text;
        std::string url;
    };
    struct Auth {
        bool isProxy;
        std::string host;
        int port;
        std::string realm;
        std::string scheme;
    };

    fvcef::CefRefPtr<fvcef::CefMessageRouterBrowserSide> router;
    std::function<bool(const std::string& url)> cancelNavigation = [](const std::string&) { return false; };
    std::function<bool(const std::string& url)> cancelResponse = [](const std::string&) { return false; };
    std::function<bool(fvcef::CefRefPtr<fvcef::CefAuthCallback>)> answerAuth;
    std::function<bool(fvcef::cef_jsdialog_type_t, fvcef::CefRefPtr<fvcef::CefJSDialogCallback>)> answerDialog;

    int created = 0;
    int closeAsked = 0;
    int closed = 0;
    std::vector<int> loadEnds;
    std::vector<LoadError> loadErrors;
    std::vector<std::string> navigations;
    std::vector<std::string> responses;
    std::vector<std::string> newWindows;
    std::vector<Auth> auths;
    std::vector<std::string> dialogs;
    std::vector<fvcef::cef_termination_status_t> terminations;

    void OnAfterCreated(fvcef::CefRefPtr<fvcef::CefBrowser>) override { ++created; }
    bool DoClose(fvcef::CefRefPtr<fvcef::CefBrowser>) override
    {
        ++closeAsked;
        return false;
    }
    void OnBeforeClose(fvcef::CefRefPtr<fvcef::CefBrowser> browser) override
    {
        ++closed;
        if (router)
            router->OnBeforeClose(browser);
    }
    void OnLoadEnd(fvcef::CefRefPtr<fvcef::CefBrowser>, fvcef::CefRefPtr<fvcef::CefFrame>, int status) override
    {
        loadEnds.push_back(status);
    }
    void OnLoadError(fvcef::CefRefPtr<fvcef::CefBrowser>, fvcef::CefRefPtr<fvcef::CefFrame>,
                     fvcef::cef_errorcode_t code, const fvcef::CefString& text, const fvcef::CefString& url) override
    {
        loadErrors.push_back({code, text, url});
    }
    bool OnBeforeBrowse(fvcef::CefRefPtr<fvcef::CefBrowser> browser, fvcef::CefRefPtr<fvcef::CefFrame> frame,
                        const fvcef::CefString& url, bool, bool) override
    {
        navigations.push_back(url);
        if (cancelNavigation(url))
            return true;
        if (router)
            router->OnBeforeBrowse(browser, frame);
        return false;
    }
    bool OnResourceResponse(fvcef::CefRefPtr<fvcef::CefBrowser>, fvcef::CefRefPtr<fvcef::CefFrame>,
                            const fvcef::CefString& url, bool, bool) override
    {
        responses.push_back(url);
        return cancelResponse(url);
    }
    void OnOpenNewWindow(fvcef::CefRefPtr<fvcef::CefBrowser>, const fvcef::CefString& url, bool) override
    {
        newWindows.push_back(url);
    }
    bool GetAuthCredentials(fvcef::CefRefPtr<fvcef::CefBrowser>, bool isProxy, const fvcef::CefString& host, int port,
                            const fvcef::CefString& realm, const fvcef::CefString& scheme,
                            fvcef::CefRefPtr<fvcef::CefAuthCallback> callback) override
    {
        auths.push_back({isProxy, host, port, realm, scheme});
        return answerAuth ? answerAuth(callback) : false;
    }
    bool OnJSDialog(fvcef::CefRefPtr<fvcef::CefBrowser>, const fvcef::CefString&, fvcef::cef_jsdialog_type_t type,
                    const fvcef::CefString& message, fvcef::CefRefPtr<fvcef::CefJSDialogCallback> callback) override
    {
        dialogs.push_back(message);
        return answerDialog ? answerDialog(type, callback) : false;
    }
    void OnRenderProcessTerminated(fvcef::CefRefPtr<fvcef::CefBrowser> browser,
                                   fvcef::cef_termination_status_t status) override
    {
        terminations.push_back(status);
        if (router)
            router->OnRenderProcessTerminated(browser);
    }
    bool OnProcessMessageReceived(fvcef::CefRefPtr<fvcef::CefBrowser> browser, fvcef::CefRefPtr<fvcef::CefFrame> frame,
                                  fvcef::cef_process_id_t source,
                                  fvcef::CefRefPtr<fvcef::CefProcessMessage> message) override
    {
        return router && router->OnProcessMessageReceived(browser, frame, source, message);
    }
};

} // namespace fv_test
