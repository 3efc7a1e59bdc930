#include "browser/host/linux/LocalSchemeHandlerLinux.h"

#include <gio/gio.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <sys/stat.h>

namespace ferrovan {

namespace {

void failNotFound(WebKitURISchemeRequest* request, const std::string& path)
{
    GError* error = g_error_new(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "Not found: %s", path.c_str());
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
}

} // namespace

LocalSchemeHandlerLinux::LocalSchemeHandlerLinux(LocalResourceResolver resolver) : m_resolver(std::move(resolver)) {}

void LocalSchemeHandlerLinux::registerWith(WebKitWebContext* context)
{
    webkit_web_context_register_uri_scheme(context, kLocalScheme, &LocalSchemeHandlerLinux::onRequest, this, nullptr);
}

std::string LocalSchemeHandlerLinux::mimeTypeFor(const std::string& path)
{
    static const std::map<std::string, std::string> types{
        {"css", "text/css"},          {"gif", "image/gif"},    {"htm", "text/html"},     {"html", "text/html"},
        {"ico", "image/x-icon"},      {"jpeg", "image/jpeg"},  {"jpg", "image/jpeg"},    {"js", "text/javascript"},
        {"json", "application/json"}, {"png", "image/png"},    {"svg", "image/svg+xml"}, {"txt", "text/plain"},
        {"woff", "font/woff"},        {"woff2", "font/woff2"},
    };
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "application/octet-stream";
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto type = types.find(extension);
    return type != types.end() ? type->second : "application/octet-stream";
}

void LocalSchemeHandlerLinux::onRequest(WebKitURISchemeRequest* request, gpointer self)
{
    static_cast<const LocalSchemeHandlerLinux*>(self)->serve(request);
}

void LocalSchemeHandlerLinux::serve(WebKitURISchemeRequest* request) const
{
    const char* requestPath = webkit_uri_scheme_request_get_path(request);
    const std::string path = requestPath != nullptr ? requestPath : "";
    std::string file;
    // The resolver is the host's code: what it throws is a page that does not exist.
    try {
        file = m_resolver ? m_resolver(path) : std::string();
    } catch (...) {
        file.clear();
    }
    struct stat info {};
    if (file.empty() || file[0] != '/' || stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        failNotFound(request, path);
        return;
    }
    GFile* source = g_file_new_for_path(file.c_str());
    GFileInputStream* stream = g_file_read(source, nullptr, nullptr);
    g_object_unref(source);
    if (stream == nullptr) {
        failNotFound(request, path);
        return;
    }
    webkit_uri_scheme_request_finish(request, G_INPUT_STREAM(stream), static_cast<gint64>(info.st_size),
                                     mimeTypeFor(file).c_str());
    g_object_unref(stream);
}

} // namespace ferrovan
