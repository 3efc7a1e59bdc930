#pragma once

#include "browser/host/CefBaseRefCounted.h"
#include "browser/host/CefString.h"

namespace fvcef {

// A message from a page's process to the program that no query function sent.
class CefProcessMessage : public virtual CefBaseRefCounted {
public:
    virtual CefString GetName() = 0;
};

} // namespace fvcef
