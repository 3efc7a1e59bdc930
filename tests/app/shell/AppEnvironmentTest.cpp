#include "shell/AppEnvironment.h"
#include "shell/CommandLineArguments.h"

#include "LogFileTestSupport.h"
#include "PasswordDatabaseHome.h"
#include "ScopedVariable.h"

#include "support/fixtures/TestEnvironment.h"

#include "core/config/FvTransfersGlobalConfig.h"

#include <Poco/Exception.h>
#include <Poco/File.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using ferrovan::AppEnvironment;
using ferrovan::CommandLineArguments;
using fv_test::ScopedVariable;
using fv_test::TempDir;

class FakeBundleInfo : public ferrovan::IAppBundleInfo {
public:
    std::optional<std::string> version = "4.0.0";
    std::optional<std::string> product = "Ferrovan";
    std::optional<std::string> website = "https://bundle.example";
    std::optional<std::string> webAppPath = "/app";
    std::optional<std::string> restApi = "https://rest.bundle.example";

    bool getVersion(std::string& out) override { return give(version, out); }
    bool getProductName(std::string& out) override { return give(product, out); }
    bool getDisplayName(std::string& out) override { return give(product, out); }
    bool getWebsiteUrl(std::string& out) override { return give(website, out); }
    bool getWebAppPath(std::string& out) override { return give(webAppPath, out); }
    bool getCompanyName(std::string& out) override { return give(product, out); }
    bool getAppcastUrl(std::string& out) override { return give(std::nullopt, out); }
    bool getRestApiUrl(std::string& out) override { return give(restApi, out); }

private:
    static bool give(const std::optional<std::string>& value, std::string& out)
    {
        if (!value)
            return false;
        out = *value;
        return true;
    }
};

Poco::SharedPtr<ferrovan::IAppBundleInfo> bundle()
{
    return new FakeBundleInfo();
}

AppEnvironment environment(const std::map<int, std::string>& options = {},
                           const std::string& executable = "/opt/ferrovan/bin/Ferrovan")
{
    return AppEnvironment(bundle(), executable, options);
}

// The folders on the way to `folder` that do not exist yet, outermost first.
std::vector<std::string> missingFolders(const std::string& folder)
{
    std::vector<std::string> missing;
    for (std::string::size_type slash = folder.find('/', 1); slash != std::string::npos;
         slash = folder.find('/', slash + 1)) {
        const std::string prefix = folder.substr(0, slash);
        if (!Poco::File(prefix).exists())
            missing.push_back(prefix);
    }
    return missing;
}

struct DataFolderCase {
    const char* name;
    const char* xdgDataHome; // "<tmp>" stands for a fresh folder; null: unset
    const char* home;        // as above
    bool underXdg;           // else under HOME
    const char* expected;    // below that folder
};

std::string withTemp(const char* text, const std::string& tmp)
{
    std::string value = text ? text : "";
    const auto at = value.find("<tmp>");
    return at == std::string::npos ? value : value.replace(at, 5, tmp);
}

// The XDG rule: an XDG_DATA_HOME that is not absolute counts as unset.
TEST(AppEnvironment, FindsAndCreatesThePrivateDataFolder)
{
    const DataFolderCase cases[] = {
        {"xdg set", "<tmp>", "<tmp>", true, "/Ferrovan/"},
        {"xdg with doubled and trailing separators", "<tmp>//data//", "<tmp>", true, "/data/Ferrovan/"},
        {"xdg unset", nullptr, "<tmp>", false, "/.local/share/Ferrovan/"},
        {"xdg empty", "", "<tmp>", false, "/.local/share/Ferrovan/"},
        {"xdg relative", "relative/data", "<tmp>", false, "/.local/share/Ferrovan/"},
        {"home unset, xdg set", "<tmp>", nullptr, true, "/Ferrovan/"},
    };
    for (const auto& c : cases) {
        TempDir xdg;
        TempDir home;
        const std::string xdgValue = withTemp(c.xdgDataHome, xdg.path());
        const std::string homeValue = withTemp(c.home, home.path());
        ScopedVariable xdgVariable("XDG_DATA_HOME", c.xdgDataHome ? xdgValue.c_str() : nullptr);
        ScopedVariable homeVariable("HOME", c.home ? homeValue.c_str() : nullptr);
        const std::string base = c.underXdg ? xdg.path() : home.path();
        const std::string expected = base + c.expected;

        EXPECT_EQ(environment().getAppDataDirectory(), expected) << c.name;
        // Every folder it made is private, the data folder first of all.
        EXPECT_EQ(fv_test::modeOf(expected), 0700u) << c.name;
        for (std::string::size_type slash = base.size() + 1; (slash = expected.find('/', slash)) != std::string::npos;
             ++slash)
            EXPECT_EQ(fv_test::modeOf(expected.substr(0, slash)), 0700u) << c.name << ": " << expected.substr(0, slash);
    }
}

TEST(AppEnvironment, WithoutHomeTheDataFolderIsUnderThePasswordDatabaseHome)
{
    const std::string home = fv_test::passwordDatabaseHome();
    if (home.empty() || ::access(home.c_str(), W_OK) != 0)
        GTEST_SKIP() << "this user has no writable home folder";
    const std::string expected = (home == "/" ? "" : home) + "/.local/share/Ferrovan/";
    const std::vector<std::string> madeHere = missingFolders(expected);
    {
        ScopedVariable xdgVariable("XDG_DATA_HOME", nullptr);
        ScopedVariable homeVariable("HOME", nullptr);
        EXPECT_EQ(environment().getAppDataDirectory(), expected);
    }
    // Only what this test made goes, innermost first; a folder someone filled meanwhile stays.
    for (auto folder = madeHere.rbegin(); folder != madeHere.rend(); ++folder)
        ::rmdir(folder->c_str());
}

// Without an absolute data folder nothing may fall back to the working folder: a reset
// would delete files there.
TEST(AppEnvironment, WithoutADataFolderEveryPathInItIsEmpty)
{
    TempDir tmp;
    fv_test::writeFile(tmp.file("plain-file"), "not a folder");
    const std::string blocked = tmp.file("plain-file");
    ScopedVariable xdgVariable("XDG_DATA_HOME", blocked.c_str());

    const AppEnvironment env = environment();
    EXPECT_EQ(env.getAppDataDirectory(), "");
    EXPECT_EQ(env.getAppLogFilePath(), "");
    EXPECT_EQ(env.getCacheDirectory(), "");
    EXPECT_EQ(env.getCefLogFilePath(), "");
    EXPECT_EQ(env.getSettingsFilePath(), "");
}

TEST(AppEnvironment, FilesAndFoldersAreJoinedWithOneSeparator)
{
    TempDir tmp;
    const std::string xdg = tmp.path() + "//data/";
    ScopedVariable xdgVariable("XDG_DATA_HOME", xdg.c_str());
    Poco::File(tmp.file("bin/Resources")).createDirectories();

    const AppEnvironment env = environment({}, tmp.path() + "//bin/Ferrovan");
    const std::string folder = tmp.path() + "/data/Ferrovan/";
    EXPECT_EQ(env.getAppDataDirectory(), folder);
    EXPECT_EQ(env.getAppLogFilePath(), folder + "fv_app.log");
    EXPECT_EQ(env.getCacheDirectory(), folder + "Cache");
    EXPECT_EQ(env.getCefLogFilePath(), folder + "browser.log");
    EXPECT_EQ(env.getSettingsFilePath(), folder + "fv_settings.json");
    EXPECT_EQ(env.getResourcesDirectory(), tmp.path() + "/bin/Resources");
    for (const std::string& path :
         {env.getAppDataDirectory(), env.getAppLogFilePath(), env.getCacheDirectory(), env.getCefLogFilePath(),
          env.getSettingsFilePath(), env.getResourcesDirectory(), env.getLoadingPageUrl(), env.getErrorPageUrl()}) {
        EXPECT_EQ(path.find("//"), std::string::npos) << path;
        EXPECT_EQ(path.rfind('/', 0), 0u) << path;
    }
}

TEST(AppEnvironment, ResourcesAreBesideTheExecutableElseInstalled)
{
    TempDir tmp;
    Poco::File(tmp.file("with/Resources")).createDirectories();
    Poco::File(tmp.file("without")).createDirectories();
    Poco::File(tmp.file("file")).createDirectories();
    fv_test::writeFile(tmp.file("file/Resources"), "a file, not a folder");
    const std::string installed = std::string(FV_DATADIR) + "/ferrovan/Resources";
    const struct {
        const char* name;
        std::string executable;
        std::string expected;
    } cases[] = {
        {"beside", tmp.file("with/Ferrovan"), tmp.file("with/Resources")},
        {"no folder beside", tmp.file("without/Ferrovan"), installed},
        {"a file in its place", tmp.file("file/Ferrovan"), installed},
        {"relative executable", "with/Ferrovan", installed},
        {"no executable path", "", installed},
    };
    for (const auto& c : cases) {
        const AppEnvironment env = environment({}, c.executable);
        EXPECT_EQ(env.getExecutablePath(), c.executable) << c.name;
        EXPECT_EQ(env.getResourcesDirectory(), c.expected) << c.name;
        EXPECT_EQ(env.getLoadingPageUrl(), c.expected + "/loading.html") << c.name;
        EXPECT_EQ(env.getErrorPageUrl(), c.expected + "/error.html") << c.name;
    }
}

struct AddressCase {
    const char* name;
    std::map<int, std::string> options;
    bool withBundle;
    bool bundleHasAddresses;
    const char* webAppBase;
    const char* webAppPath;
    const char* restEndpoint;
};

TEST(AppEnvironment, CommandLineAddressesWinOverTheBundle)
{
    const std::map<int, std::string> allGiven = {{CommandLineArguments::kAppUrl, "http://127.0.0.1:1"},
                                                 {CommandLineArguments::kRestPath, "/x"},
                                                 {CommandLineArguments::kRestEndpointUrl, "http://127.0.0.1:2/r"}};
    const AddressCase cases[] = {
        {"bundle only", {}, true, true, "https://bundle.example", "/app", "https://rest.bundle.example"},
        {"options only", allGiven, true, true, "http://127.0.0.1:1", "/x", "http://127.0.0.1:2/r"},
        {"one option",
         {{CommandLineArguments::kRestEndpointUrl, "http://r"}},
         true,
         true,
         "https://bundle.example",
         "/app",
         "http://r"},
        // An option given without a value ("--app-url --rest-path /x") names no address.
        {"empty option",
         {{CommandLineArguments::kAppUrl, ""}},
         true,
         true,
         "https://bundle.example",
         "/app",
         "https://rest.bundle.example"},
        {"options without a bundle", allGiven, false, false, "http://127.0.0.1:1", "/x", "http://127.0.0.1:2/r"},
        {"bundle without the values", {}, true, false, "", "", ""},
        {"unrelated option",
         {{CommandLineArguments::kDisableAutoupdate, "1"}},
         true,
         true,
         "https://bundle.example",
         "/app",
         "https://rest.bundle.example"},
    };
    for (const auto& c : cases) {
        Poco::SharedPtr<ferrovan::IAppBundleInfo> info;
        if (c.withBundle) {
            auto fake = new FakeBundleInfo();
            if (!c.bundleHasAddresses)
                fake->website = fake->webAppPath = fake->restApi = std::nullopt;
            info = fake;
        }
        const AppEnvironment env(info, "/opt/Ferrovan", c.options);
        EXPECT_EQ(env.getWebAppBaseUrl(), c.webAppBase) << c.name;
        EXPECT_EQ(env.getWebAppPath(), c.webAppPath) << c.name;
        EXPECT_EQ(env.getRestEndpointUrl(), c.restEndpoint) << c.name;
    }
}

TEST(AppEnvironment, GettersThatNeedTheBundleThrowWithoutIt)
{
    const AppEnvironment env(Poco::SharedPtr<ferrovan::IAppBundleInfo>(), "/opt/Ferrovan", {});
    EXPECT_THROW(env.getAppVersion(), Poco::NullPointerException);
    EXPECT_THROW(env.getUserAgent(), Poco::NullPointerException);
    EXPECT_THROW(env.getWebAppBaseUrl(), Poco::NullPointerException);
    EXPECT_THROW(env.getWebAppPath(), Poco::NullPointerException);
    EXPECT_THROW(env.getRestEndpointUrl(), Poco::NullPointerException);
    EXPECT_NO_THROW(env.getAppLogFilePath());
    EXPECT_NO_THROW(env.getResourcesDirectory());
    EXPECT_EQ(env.getExecutablePath(), "/opt/Ferrovan");
}

TEST(AppEnvironment, UserAgentNamesProductVersionAndSystem)
{
    const auto answering = [](const std::string& text, bool result, int reportedSize) {
        return [text, result, reportedSize](char* buffer, int& size) {
            if (result)
                std::memcpy(buffer, text.c_str(), text.size() + 1);
            size = reportedSize;
            return result;
        };
    };
    const struct {
        const char* name;
        AppEnvironment::OsVersionQuery query;
        const char* expected;
    } cases[] = {
        {"known", answering("Debian GNU/Linux 12 (bookworm)", true, 30),
         "Ferrovan/4.0.0 (Debian GNU/Linux 12 (bookworm))"},
        // The real query reports the length of a text that did not fit; the buffer holds nothing.
        {"too long for the buffer", answering("", false, 600), "Ferrovan/4.0.0 ()"},
        {"failed", answering("", false, 0), "Ferrovan/4.0.0 ()"},
        {"a size past the buffer", answering("Linux", true, 4096), "Ferrovan/4.0.0 ()"},
        {"no query", nullptr, "Ferrovan/4.0.0 ()"},
    };
    for (const auto& c : cases) {
        const AppEnvironment env(bundle(), "/opt/Ferrovan", {}, c.query);
        EXPECT_EQ(env.getUserAgent(), c.expected) << c.name;
    }

    char os[512] = {};
    int size = sizeof(os);
    ASSERT_TRUE(fv_transfers::CFvTransfersGlobalConfig::getInstance()->getOsVersionString(os, size));
    EXPECT_EQ(environment().getUserAgent(), "Ferrovan/4.0.0 (" + std::string(os) + ")");
    EXPECT_EQ(environment().getAppVersion(), "4.0.0");
}

// Read once at start: the program's children and later changes do not switch it.
TEST(AppEnvironment, TestModeIsReadFromTheEnvironmentOnce)
{
    const struct {
        const char* value;
        bool testMode;
    } cases[] = {{"1", true}, {"0", false}, {"", false}, {"yes", false}, {nullptr, false}};
    for (const auto& c : cases) {
        ScopedVariable variable("FV_TEST_MODE", c.value);
        const AppEnvironment env = environment();
        ::setenv("FV_TEST_MODE", c.testMode ? "0" : "1", 1);
        EXPECT_EQ(env.isTestMode(), c.testMode) << (c.value ? c.value : "unset");
    }
}

} // namespace
