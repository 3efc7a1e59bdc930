#pragma once

#include "browser/host/CefBaseRefCounted.h"
#include "browser/host/CefBrowser.h"
#include "browser/host/CefCallbacks.h"
#include "browser/host/CefFrame.h"
#include "browser/host/CefProcessMessage.h"
#include "browser/host/CefRefPtr.h"
#include "browser/host/CefString.h"

namespace fvcef {

enum cef_termination_status_t {
    TS_ABNORMAL_TERMINATION,
    TS_PROCESS_WAS_KILLED, // ended on purpose (the program asked for it)
    TS_PROCESS_CRASHED,
    TS_PROCESS_OOM,
};

enum cef_jsdialog_type_t { JSDIALOGTYPE_ALERT, JSDIALOGTYPE_CONFIRM, JSDIALOGTYPE_PROMPT };

enum cef_drag_operations_mask_t : unsigned {
    DRAG_OPERATION_NONE = 0,
    DRAG_OPERATION_COPY = 1,
    DRAG_OPERATION_LINK = 2,
    DRAG_OPERATION_MOVE = 16,
};

// Why a load failed; negative as the page's network stack reports them.
enum cef_errorcode_t {
    ERR_NONE = 0,
    ERR_FAILED = -2,
    ERR_ABORTED = -3,
    ERR_FILE_NOT_FOUND = -6,
    ERR_CONNECTION_FAILED = -104,
    ERR_CERT_INVALID = -207,
    ERR_UNKNOWN_URL_SCHEME = -302,
};

// What a browser tells its owner, on the UI thread. Every callback has a harmless default.
class CefClient : public virtual CefBaseRefCounted {
public:
    // Life span: created; its window asked to close (true: the client closes it itself);
    // gone (once, however it ended).
    virtual void OnAfterCreated(CefRefPtr<CefBrowser> browser) { (void)browser; }
    virtual bool DoClose(CefRefPtr<CefBrowser> browser)
    {
        (void)browser;
        return false;
    }
    virtual void OnBeforeClose(CefRefPtr<CefBrowser> browser) { (void)browser; }

    // A load of the main frame ended, with the HTTP status (0 when none).
    virtual void OnLoadEnd(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, int httpStatusCode)
    {
        (void)browser, (void)frame, (void)httpStatusCode;
    }
    virtual void OnLoadError(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, cef_errorcode_t errorCode,
                             const CefString& errorText, const CefString& failedUrl)
    {
        (void)browser, (void)frame, (void)errorCode, (void)errorText, (void)failedUrl;
    }

    // A navigation to `url` is about to start; true cancels it.
    virtual bool OnBeforeBrowse(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, const CefString& url,
                                bool user_gesture, bool is_redirect)
    {
        (void)browser, (void)frame, (void)url, (void)user_gesture, (void)is_redirect;
        return false;
    }
    // A response arrived for `url`; true cancels it. One the view cannot show is cancelled
    // whatever the answer: nothing is ever downloaded.
    virtual bool OnResourceResponse(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, const CefString& url,
                                    bool is_main_frame_main_resource, bool can_show)
    {
        (void)browser, (void)frame, (void)url, (void)is_main_frame_main_resource, (void)can_show;
        return false;
    }
    // The page asked for a new window; none is ever created. The client may show `url`
    // elsewhere.
    virtual void OnOpenNewWindow(CefRefPtr<CefBrowser> browser, const CefString& url, bool user_gesture)
    {
        (void)browser, (void)url, (void)user_gesture;
    }

    // A server or proxy asks for credentials. True: `callback` answers, now or later; false
    // cancels the request.
    virtual bool GetAuthCredentials(CefRefPtr<CefBrowser> browser, bool isProxy, const CefString& host, int port,
                                    const CefString& realm, const CefString& scheme,
                                    CefRefPtr<CefAuthCallback> callback)
    {
        (void)browser, (void)isProxy, (void)host, (void)port, (void)realm, (void)scheme, (void)callback;
        return false;
    }

    // An alert or confirm of the page (prompts keep the view's own dialog). True: `callback`
    // answers; false: the view shows its own dialog.
    virtual bool OnJSDialog(CefRefPtr<CefBrowser> browser, const CefString& origin_url, cef_jsdialog_type_t dialog_type,
                            const CefString& message_text, CefRefPtr<CefJSDialogCallback> callback)
    {
        (void)browser, (void)origin_url, (void)dialog_type, (void)message_text, (void)callback;
        return false;
    }

    // The page's process ended; the browser stays, without a page, until it loads again.
    virtual void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser, cef_termination_status_t status)
    {
        (void)browser, (void)status;
    }

    // Something is dragged over the page; true cancels the drag.
    virtual bool OnDragEnter(CefRefPtr<CefBrowser> browser, CefRefPtr<CefDragData> dragData,
                             cef_drag_operations_mask_t mask)
    {
        (void)browser, (void)dragData, (void)mask;
        return false;
    }

    // A message from the page's process; true when taken. The query router's messages arrive
    // here and are handed on to it.
    virtual bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                          cef_process_id_t source_process, CefRefPtr<CefProcessMessage> message)
    {
        (void)browser, (void)frame, (void)source_process, (void)message;
        return false;
    }
};

} // namespace fvcef
