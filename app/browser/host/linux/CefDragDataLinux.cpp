#include "browser/host/linux/CefDragDataLinux.h"

#include <glib.h>

#include <algorithm>
#include <memory>
#include <utility>

namespace ferrovan {

namespace {

constexpr const char* kUriList = "text/uri-list";

// A path only for a "file:" URI without a host or naming this one, the way GLib reads it.
bool localPath(const char* uri, std::string& path)
{
    gchar* hostname = nullptr;
    gchar* filename = g_filename_from_uri(uri, &hostname, nullptr);
    const bool local = filename != nullptr && (hostname == nullptr || g_strcmp0(hostname, "localhost") == 0 ||
                                               g_strcmp0(hostname, g_get_host_name()) == 0);
    if (local)
        path = filename;
    g_free(filename);
    g_free(hostname);
    return local;
}

} // namespace

CefDragDataLinux::Offer CefDragDataLinux::classify(bool fromThisView, const std::vector<std::string>& targets)
{
    if (fromThisView)
        return Offer::Fragment;
    const auto offers = [&targets](const char* type) {
        return std::find(targets.begin(), targets.end(), type) != targets.end();
    };
    if (offers(kUriList))
        return Offer::UriList;
    if (offers("text/html") || offers("text/plain") || offers("text/plain;charset=utf-8") || offers("UTF8_STRING"))
        return Offer::Fragment;
    return Offer::Other;
}

fvcef::CefRefPtr<CefDragDataLinux> CefDragDataLinux::fromUriList(const std::string& uriList)
{
    const std::unique_ptr<gchar*, decltype(&g_strfreev)> uris(g_uri_list_extract_uris(uriList.c_str()), g_strfreev);
    std::vector<std::string> paths;
    for (gchar** uri = uris.get(); uri != nullptr && *uri != nullptr; ++uri) {
        std::string path;
        if (!localPath(*uri, path))
            return new CefDragDataLinux(Kind::Other);
        paths.push_back(std::move(path));
    }
    if (paths.empty())
        return new CefDragDataLinux(Kind::Other);
    return new CefDragDataLinux(Kind::File, std::move(paths));
}

CefDragDataLinux::CefDragDataLinux(Kind kind, std::vector<std::string> paths) : m_kind(kind), m_paths(std::move(paths))
{
}

bool CefDragDataLinux::IsFile()
{
    return m_kind == Kind::File;
}

bool CefDragDataLinux::IsFragment()
{
    return m_kind == Kind::Fragment;
}

bool CefDragDataLinux::GetFileNames(std::vector<fvcef::CefString>& names)
{
    for (const std::string& path : m_paths)
        names.emplace_back(path);
    return !m_paths.empty();
}

} // namespace ferrovan
