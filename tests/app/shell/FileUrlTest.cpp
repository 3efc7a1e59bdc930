#include "shell/FileUrl.h"

#include <gtest/gtest.h>
#include <glib.h>

#include <memory>
#include <string>

namespace {

using ferrovan::fileUrlToPath;
using ferrovan::pathToFileUrl;

const std::string kUntouched = "untouched";

struct ToUrlCase {
    std::string path;
    std::string url; // empty: the conversion fails
};

TEST(FileUrl, PathsBecomeEncodedFileUrls)
{
    const ToUrlCase cases[] = {
        {"/a b", "file:///a%20b"},
        {"/%", "file:///%25"},
        {"/#", "file:///%23"},
        {"/?", "file:///%3F"},
        {"/\xC3\xA9", "file:///%C3%A9"},
        {"/", "file:///"},
        {"/home/u/Doc-1_x.~y/", "file:///home/u/Doc-1_x.~y/"},
        {"/a:b;c=d&e+f@g", "file:///a%3Ab%3Bc%3Dd%26e%2Bf%40g"},
        {"/tab\there", "file:///tab%09here"},
        {"a", ""},
        {"", ""},
        {"file:///a", ""},
        {std::string("/a\0b", 4), ""},
        {"/\xFF", ""},
    };
    for (const ToUrlCase& test : cases) {
        std::string url = kUntouched;
        EXPECT_EQ(!test.url.empty(), pathToFileUrl(test.path, url)) << test.path;
        EXPECT_EQ(test.url.empty() ? kUntouched : test.url, url) << test.path;
    }
}

struct ToPathCase {
    std::string url;
    std::string path; // empty: the conversion fails
};

TEST(FileUrl, FileUrlsBecomeLocalPaths)
{
    const ToPathCase cases[] = {
        {"file:///x", "/x"},
        {"file://localhost/x", "/x"},
        {"FILE://LocalHost/x", "/x"},
        {"file:/x", "/x"},
        {"file:///", "/"},
        {"file:///a%20b/%C3%A9", "/a b/\xC3\xA9"},
        {"file:///a%3f%23", "/a?#"},
        {"http://x", ""},
        {"file://host/x", ""},
        {"file://user@localhost/x", ""},
        {"file://localhost:80/x", ""},
        {"file://localhost", ""},
        {"file:x", ""},
        {"file:", ""},
        {"/x", ""},
        {"file:///a%2Fb", ""},
        {"file:///a%2fb", ""},
        {"file:///a%00", ""},
        {std::string("file:///a\0b", 11), ""},
        {"file:///a?q=1", ""},
        {"file:///a#top", ""},
        {"file:///a%", ""},
        {"file:///a%4", ""},
        {"file:///a%zz", ""},
        {"file:///%FF", ""},
    };
    for (const ToPathCase& test : cases) {
        std::string path = kUntouched;
        EXPECT_EQ(!test.path.empty(), fileUrlToPath(test.url, path)) << test.url;
        EXPECT_EQ(test.path.empty() ? kUntouched : test.path, path) << test.url;
    }
}

// GLib is what the desktop's own programs use; a URL that differs from its form would name
// another file to them.
TEST(FileUrl, AgreesWithGlibBothWays)
{
    const std::string paths[] = {"/a b", "/%", "/#", "/?", "/\xC3\xA9/t\xC3\xBCr", "/x/.hidden", "/sp ace/%41"};
    for (const std::string& path : paths) {
        std::string url;
        ASSERT_TRUE(pathToFileUrl(path, url)) << path;
        const std::unique_ptr<gchar, decltype(&g_free)> glibPath(g_filename_from_uri(url.c_str(), nullptr, nullptr),
                                                                 &g_free);
        ASSERT_NE(nullptr, glibPath) << url;
        EXPECT_EQ(path, glibPath.get()) << url;
        const std::unique_ptr<gchar, decltype(&g_free)> glibUrl(g_filename_to_uri(path.c_str(), nullptr, nullptr),
                                                                &g_free);
        std::string back;
        ASSERT_TRUE(fileUrlToPath(glibUrl.get(), back)) << glibUrl.get();
        EXPECT_EQ(path, back);
    }
}

TEST(FileUrl, LongPathsHaveNoLimit)
{
    std::string path;
    for (int i = 0; i < 400; ++i)
        path += "/f\xC3\xB6lder " + std::to_string(i);
    std::string url;
    ASSERT_TRUE(pathToFileUrl(path, url));
    EXPECT_GT(url.size(), 4096u);
    std::string back;
    ASSERT_TRUE(fileUrlToPath(url, back));
    EXPECT_EQ(path, back);
}

} // namespace
