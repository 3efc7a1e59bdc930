#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <string>

namespace ferrovan {

// The local file behind a path of the local scheme (absolute), or empty when there is none.
using LocalResourceResolver = std::function<std::string(const std::string& requestPath)>;

// Serves the program's own pages under kLocalScheme ("fv-resource://local/loading.html"): the
// resolver picks the file, its extension the MIME type; anything it does not resolve to a
// regular file fails as not found. The view never loads "file:" addresses.
class LocalSchemeHandlerLinux {
public:
    static constexpr const char* kLocalScheme = "fv-resource";

    explicit LocalSchemeHandlerLinux(LocalResourceResolver resolver);
    LocalSchemeHandlerLinux(const LocalSchemeHandlerLinux&) = delete;
    LocalSchemeHandlerLinux& operator=(const LocalSchemeHandlerLinux&) = delete;

    // The handler must outlive `context`'s use of the scheme.
    void registerWith(WebKitWebContext* context);

    static std::string mimeTypeFor(const std::string& path);

private:
    static void onRequest(WebKitURISchemeRequest* request, gpointer self);
    void serve(WebKitURISchemeRequest* request) const;

    LocalResourceResolver m_resolver;
};

} // namespace ferrovan
