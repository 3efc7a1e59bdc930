#include "core/base/StringConversion.h"
#include "download/BookmarkTargets.h"
#include "support/fixtures/TestEnvironment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace fv_transfers;
using fv_test::TempDir;

TEST(BookmarkTargets, OnlyAFileUrlOfAnExistingFolderIsADestination)
{
    TempDir dir;
    fv_test::writeFile(dir.file("plain"), "x");
    const std::string folderUrl = "file://" + dir.path();
    std::wstring output;
    ASSERT_TRUE(resolveBookmarkUri(utf8ToWide(folderUrl), output));
    EXPECT_EQ(utf8ToWide(dir.path()), output);

    const std::vector<std::string> refused = {
        "bookmark:" + dir.path(),
        "bookmark://abc",
        "https://127.0.0.1/x",
        "",
        dir.path(),
        "file://" + dir.file("missing"),
        "file://" + dir.file("plain"),
        "file://otherhost" + dir.path(),
    };
    for (const std::string& input : refused) {
        std::wstring kept = L"unchanged";
        EXPECT_FALSE(resolveBookmarkUri(utf8ToWide(input), kept)) << input;
        EXPECT_EQ(L"unchanged", kept) << input;
    }
}
