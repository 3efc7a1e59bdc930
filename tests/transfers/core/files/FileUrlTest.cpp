#include "core/files/FileUrl.h"
#include "core/base/StringConversion.h"

#include <gtest/gtest.h>

#include <string>

using fv_transfers::urlToLocalPath;
using fv_transfers::utf8ToWide;
using fv_transfers::wideToUtf8;
namespace hresult = fv_transfers::hresult;

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
        std::wstring path;
        EXPECT_EQ(hresult::ok, urlToLocalPath(utf8ToWide(c.url), path)) << c.url;
        EXPECT_EQ(c.path, wideToUtf8(path)) << c.url;
    }
}

TEST(FileUrl, RefusesWhatIsNotALocalFile)
{
    struct Case {
        std::string url;
        std::int32_t result;
    };
    const Case cases[] = {
        {"", hresult::invalid_argument},
        {"http://localhost/tmp/x", hresult::invalid_argument},
        {"https://example.invalid/x", hresult::invalid_argument},
        {"/tmp/x", hresult::invalid_argument},
        {"C:\\Users\\x", hresult::invalid_argument},
        {"file:relative/x", hresult::invalid_argument},
        {"file://server/share/x", hresult::bad_net_path},
        {"file://127.0.0.1/tmp/x", hresult::bad_net_path},
        {"file://user@localhost/tmp/x", hresult::invalid_argument},
        {"file://localhost:21/tmp/x", hresult::invalid_argument},
        {"file:///tmp/x?y=1", hresult::invalid_argument},
        {"file:///tmp/x#top", hresult::invalid_argument},
        {"file:///tmp/a%00b", hresult::invalid_argument},
        {"file:///tmp/%FF", hresult::invalid_argument},
        {"file:///tmp/%zz", hresult::invalid_argument},
    };
    for (const Case& c : cases) {
        std::wstring path = L"untouched";
        const std::int32_t result = urlToLocalPath(utf8ToWide(c.url), path);
        EXPECT_EQ(c.result, result) << c.url;
        EXPECT_FALSE(fv_transfers::succeeded(result)) << c.url;
        EXPECT_EQ(L"untouched", path) << c.url;
    }
}
