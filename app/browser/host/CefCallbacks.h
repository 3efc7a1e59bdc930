#pragma once

#include "browser/host/CefBaseRefCounted.h"
#include "browser/host/CefString.h"

#include <vector>

namespace fvcef {

// The answer to a credential request. Only the first call counts; released unanswered, the
// request is cancelled.
class CefAuthCallback : public virtual CefBaseRefCounted {
public:
    virtual void Continue(const CefString& username, const CefString& password) = 0;
    virtual void Cancel() = 0;
};

// The answer to a page's alert or confirm. Only the first call counts; released unanswered,
// the dialog is dismissed (a confirm answers false).
class CefJSDialogCallback : public virtual CefBaseRefCounted {
public:
    virtual void Continue(bool success, const CefString& user_input) = 0;
};

// What the user drags over the page.
class CefDragData : public virtual CefBaseRefCounted {
public:
    virtual bool IsFile() = 0;
    virtual bool IsFragment() = 0;
    // The dragged local files, as paths; false when there are none.
    virtual bool GetFileNames(std::vector<CefString>& names) = 0;
};

} // namespace fvcef
