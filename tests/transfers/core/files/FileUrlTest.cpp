#include "core/base/StringConversion.h"
#include "core/files/FileUrl.h"

#include <gtest/gtest.h>

#include <string>

using fv_transfers::urlToLocalPath;
using fv_transfers::utf8ToWide;
using fv_transfers::wideToUtf8;

TEST(FileUrl, DecodesLocalFileUrls)
{
    struct Case {
        std::string url;
        std::string path;
    };
    const std::string longName(2000, 'n');
    const Case cases[] = {
        {"file:///home/u/a.txt", "/home/u/a.txt"},
        {"file:///home/u/My%20File%231.txt", "/home/u/My File#1.txt"},
        {"file://localhost/tmp/x", "/tmp/x"},
        {"file://LocalHost/tmp/x", "/tmp/x"},
        {"file:/tmp/x", "/tmp/x"},
        {"FILE:///tmp/x", "/tmp/x"},
        {"file:///tmp/Gr%C3%BC%C3%9Fe/%F0%9F%98%80", "/tmp/Grüße/😀"},
        {"file:///tmp/Grüße", "/tmp/Grüße"},
        {"file:///deep/" + longName + "/" + longName, "/deep/" + longName + "/" + longName},
    };
    for (const Case& c : cases) {
        const auto path = urlToLocalPath(utf8ToWide(c.url));
        ASSERT_TRUE(path.has_value()) << c.url;
        EXPECT_EQ(c.path, wideToUtf8(*path)) << c.url;
    }
}

TEST(FileUrl, RefusesWhatIsNotALocalFile)
{
    const std::string cases[] = {
        "",
        "http://localhost/tmp/x",
        "https://example.invalid/x",
        "/tmp/x",
        "C:\\Users\\x",
        "file:relative/x",
        "file://server/share/x",
        "file://127.0.0.1/tmp/x",
        "file://user@localhost/tmp/x",
        "file://localhost:21/tmp/x",
        "file:///tmp/x?y=1",
        "file:///tmp/x#top",
        "file:///tmp/a%00b",
        "file:///tmp/%FF",
        "file:///tmp/%zz",
    };
    for (const std::string& url : cases)
        EXPECT_FALSE(urlToLocalPath(utf8ToWide(url)).has_value()) << url;
}
