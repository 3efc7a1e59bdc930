#pragma once

#include "browser/host/CefBaseRefCounted.h"
#include "browser/host/CefString.h"

namespace fvcef {

enum cef_process_id_t { PID_BROWSER, PID_RENDERER };

// A message from a page's process to the program that no query function sent.
class CefProcessMessage : public virtual CefBaseRefCounted {
public:
    virtual CefString GetName() = 0;
};

} // namespace fvcef
