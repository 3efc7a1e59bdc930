#include "browser/host/linux/CefDragDataLinux.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using ferrovan::CefDragDataLinux;

namespace {

using Kind = CefDragDataLinux::Kind;
using Offer = CefDragDataLinux::Offer;

struct ListCase {
    const char* name;
    const char* uriList;
    Kind kind;
    std::vector<std::string> paths;
};

TEST(CefDragDataLinux, AUriListIsFilesOnlyWhenEveryEntryIsALocalFile)
{
    const ListCase cases[] = {
        {"two files",
         "file:///tmp/a.txt\r\nfile:///home/u/b%20c.bin\r\n",
         Kind::File,
         {"/tmp/a.txt", "/home/u/b c.bin"}},
        {"a comment and no final line end", "# from a file manager\r\nfile:///tmp/a", Kind::File, {"/tmp/a"}},
        {"this machine by name", "file://localhost/tmp/a", Kind::File, {"/tmp/a"}},
        {"non-ASCII", "file:///tmp/%C3%A9t%C3%A9.txt", Kind::File, {"/tmp/\xC3\xA9t\xC3\xA9.txt"}},
        {"a web link", "https://example.com/file.txt\r\n", Kind::Other, {}},
        {"a file and a link", "file:///tmp/a\r\nhttps://example.com/b\r\n", Kind::Other, {}},
        {"another machine's file", "file://elsewhere.example/tmp/a\r\n", Kind::Other, {}},
        {"a relative file URI", "file:tmp/a\r\n", Kind::Other, {}},
        {"nothing", "", Kind::Other, {}},
        {"only a comment", "# nothing here\r\n", Kind::Other, {}},
    };
    for (const ListCase& c : cases) {
        SCOPED_TRACE(c.name);
        const fvcef::CefRefPtr<CefDragDataLinux> data = CefDragDataLinux::fromUriList(c.uriList);
        EXPECT_EQ(c.kind, data->kind());
        EXPECT_EQ(c.kind == Kind::File, data->IsFile());
        EXPECT_FALSE(data->IsFragment());
        std::vector<fvcef::CefString> names;
        EXPECT_EQ(!c.paths.empty(), data->GetFileNames(names));
        EXPECT_EQ(c.paths, std::vector<std::string>(names.begin(), names.end()));
    }
}

struct OfferCase {
    const char* name;
    bool fromThisView;
    std::vector<std::string> targets;
    Offer offer;
};

TEST(CefDragDataLinux, TheOfferedTypesTellFragmentsFromListsToRead)
{
    const OfferCase cases[] = {
        {"the view's own drag", true, {"text/uri-list", "text/html", "text/plain"}, Offer::Fragment},
        {"files from a file manager", false, {"x-special/gnome-copied-files", "text/uri-list"}, Offer::UriList},
        {"a link with its text", false, {"text/uri-list", "text/plain"}, Offer::UriList},
        {"another page's selection", false, {"text/html", "text/plain"}, Offer::Fragment},
        {"an editor's text", false, {"UTF8_STRING", "text/plain;charset=utf-8"}, Offer::Fragment},
        {"an image only", false, {"image/png"}, Offer::Other},
        {"nothing offered", false, {}, Offer::Other},
    };
    for (const OfferCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.offer, CefDragDataLinux::classify(c.fromThisView, c.targets));
    }
}

TEST(CefDragDataLinux, AFragmentCarriesNoFiles)
{
    const fvcef::CefRefPtr<CefDragDataLinux> data(new CefDragDataLinux(Kind::Fragment));
    EXPECT_TRUE(data->IsFragment());
    EXPECT_FALSE(data->IsFile());
    std::vector<fvcef::CefString> names;
    EXPECT_FALSE(data->GetFileNames(names));
    EXPECT_TRUE(names.empty());
}

} // namespace
