#include "browser/LocalPages.h"

#include "support/fixtures/TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using ferrovan::resolveLocalResource;

TEST(LocalPages, TheLoadingAndErrorPagesHaveUrlsOfTheLocalScheme)
{
    std::vector<std::string> urls = {"kept"};
    ferrovan::getLocalPageUrls(urls);
    EXPECT_EQ((std::vector<std::string>{"kept", "fv-resource://local/loading.html", "fv-resource://local/error.html"}),
              urls);
}

struct ResourceCase {
    std::string requestPath;
    std::string file; // relative to the resources folder; empty: not found
};

// resources/ holds loading.html, css/app.css, a folder, a link to a file inside and links out;
// secret.txt sits beside resources/, outside it.
class LocalResources : public ::testing::Test {
protected:
    void SetUp() override
    {
        namespace fs = std::filesystem;
        fs::create_directories(resources() + "/css");
        fs::create_directories(resources() + "/empty folder");
        fv_test::writeFile(resources() + "/loading.html", "<p>loading</p>");
        fv_test::writeFile(resources() + "/css/app.css", "p {}");
        fv_test::writeFile(resources() + "/a b.html", "spaced");
        fv_test::writeFile(m_dir.file("secret.txt"), "secret");
        fs::create_symlink(m_dir.file("secret.txt"), resources() + "/leak.txt");
        fs::create_directory_symlink(m_dir.path(), resources() + "/up");
        fs::create_symlink("css/app.css", resources() + "/style.css");
    }

    std::string resources() const { return m_dir.file("resources"); }

    fv_test::TempDir m_dir;
};

TEST_F(LocalResources, OnlyRegularFilesInsideTheFolderAreServed)
{
    const ResourceCase cases[] = {
        {"/loading.html", "loading.html"},
        {"/css/app.css", "css/app.css"},
        {"/a%20b.html", "a b.html"},
        {"/%6Coading.html", "loading.html"},
        {"/style.css", "css/app.css"},
        {"/missing.html", ""},
        {"/empty%20folder", ""},
        {"/css", ""},
        {"/css/", ""},
        {"/", ""},
        {"", ""},
        {"loading.html", ""},
        {"/../secret.txt", ""},
        {"/css/../loading.html", ""},
        {"/%2e%2e/secret.txt", ""},
        {"/%2E%2E%2Fsecret.txt", ""},
        {"/./loading.html", ""},
        {"//loading.html", ""},
        {"/css//app.css", ""},
        {"/leak.txt", ""},
        {"/up/secret.txt", ""},
        {"/up/resources/loading.html", "loading.html"},
        {"/loading.html%00.png", ""},
        {"/%zz", ""},
        {"/loading.html%", ""},
    };
    const std::string root = std::filesystem::canonical(resources()).string();
    for (const ResourceCase& c : cases) {
        const std::string expected = c.file.empty() ? "" : root + "/" + c.file;
        EXPECT_EQ(expected, resolveLocalResource(resources(), c.requestPath)) << c.requestPath;
    }
}

TEST_F(LocalResources, NothingIsServedWithoutAnExistingFolder)
{
    EXPECT_EQ("", resolveLocalResource("", "/loading.html"));
    EXPECT_EQ("", resolveLocalResource(m_dir.file("none"), "/loading.html"));
}

} // namespace
