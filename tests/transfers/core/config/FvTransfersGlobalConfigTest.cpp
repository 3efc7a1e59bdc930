#include "core/config/FvTransfersGlobalConfig.h"
#include "core/config/SystemInfo.h"
#include "core/log/FvTransfersLogger.h"
#include "support/fixtures/TestEnvironment.h"

#include "FvVersion.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <thread>

using namespace fv_transfers;

namespace {
CFvTransfersGlobalConfig& config()
{
    return *CFvTransfersGlobalConfig::getInstance();
}
} // namespace

TEST(GlobalConfig, EmptyValuesKeepEndpointAndUserAgentButClearThePath)
{
    config().setRestEndPointUrl("https://one.example");
    config().setRestEndPointUrl("");
    EXPECT_EQ("https://one.example", config().getRestEndPointUrl());

    config().setUserAgent("Agent/1");
    config().setUserAgent("");
    EXPECT_EQ("Agent/1", config().getUserAgent());

    config().setAppFilesPath(L"/x/\U0001F600");
    EXPECT_EQ(L"/x/\U0001F600", config().getAppFilesPath());
    config().setAppFilesPath(L"");
    EXPECT_EQ(L"", config().getAppFilesPath());
}

TEST(GlobalConfig, DefaultUserAgentNamesVersionAndSystem)
{
    EXPECT_EQ(std::string("fv-transfers ") + FV_VERSION_STRING + " - " + CSystemInfo::getInstance().getOsProductName(),
              config().getUserAgent());
    EXPECT_FALSE(CSystemInfo::getInstance().getOsProductName().empty());
    EXPECT_EQ(0u, CSystemInfo::getInstance().getOsVersionText().rfind("Linux ", 0));
}

TEST(GlobalConfig, OsVersionStringNeedsRoomForTheTerminator)
{
    const std::string text = CSystemInfo::getInstance().getOsVersionText();
    const int length = static_cast<int>(text.size());
    char buffer[256];
    struct Case {
        int size;
        bool ok;
    };
    for (const Case& c : {Case{0, false}, Case{length, false}, Case{length + 1, true}, Case{255, true}}) {
        int size = c.size;
        std::fill(std::begin(buffer), std::end(buffer), 'Z');
        EXPECT_EQ(c.ok, config().getOsVersionString(buffer, size)) << c.size;
        EXPECT_EQ(length, size);
        if (c.ok)
            EXPECT_EQ(text, std::string(buffer));
        else
            EXPECT_EQ('Z', buffer[0]);
    }
}

TEST(GlobalConfig, FirstLogFileNameIsTheFileTheLoggerWrites)
{
    config().setAppFilesPath(L"");
    EXPECT_EQ(getLogFilePath(), config().getFirstLogFileName());
}

TEST(SystemInfo, PrettyNameFromOsRelease)
{
    fv_test::TempDir dir;
    struct Case {
        const char* content;
        const char* expected;
    };
    const Case cases[] = {
        {"NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n", "Debian GNU/Linux 12 (bookworm)"},
        {"PRETTY_NAME='Single quoted'\n", "Single quoted"},
        {"PRETTY_NAME=Bare\n", "Bare"},
        {"NAME=NoPretty\n", ""},
    };
    for (const Case& c : cases) {
        fv_test::writeFile(dir.file("os-release"), c.content);
        EXPECT_EQ(c.expected, CSystemInfo::readPrettyName(dir.file("os-release")));
    }
    EXPECT_EQ("", CSystemInfo::readPrettyName(dir.file("missing")));
}

TEST(GlobalConfig, GettersAreSafeWhileSettersRun)
{
    std::thread writer([] {
        for (int i = 0; i < 2000; ++i) {
            config().setProxyCredentials("user" + std::to_string(i), "pw");
            config().setUserAgent("agent-" + std::to_string(i) + std::string(40, 'a'));
        }
    });
    for (int i = 0; i < 2000; ++i)
        EXPECT_EQ(0u, config().getUserAgent().find_first_of("af"));
    writer.join();
}

// What the proxy variables give for one URL. The REST endpoint is always
// https://rest.example, so a lookup that asked for it instead of the URL would be caught.
struct ProxyLookupCase {
    const char* name;
    const char* httpsProxy; // nullptr: unset
    const char* noProxy;    // nullptr: unset
    std::string url;        // empty: the no-argument lookup, for the REST endpoint
    bool viaProxy;
    std::string userName;
    std::string password;
};

// The case's name, not its bytes, in test names and messages.
void PrintTo(const ProxyLookupCase& c, std::ostream* out)
{
    *out << c.name;
}

class ProxyLookup : public ::testing::TestWithParam<ProxyLookupCase> {};

TEST_P(ProxyLookup, GivesTheProxyTheVariablesNameForTheUrl)
{
    const ProxyLookupCase& c = GetParam();
    // The libproxy factory reads the environment set here; every variable is set or cleared.
    fv_test::prepareProcessEnvironment();
    if (c.httpsProxy)
        ::setenv("https_proxy", c.httpsProxy, 1);
    if (c.noProxy)
        ::setenv("no_proxy", c.noProxy, 1);
    config().setRestEndPointUrl("https://rest.example");
    config().setProxyCredentials("", "");

    ProxyConfig proxy;
    EXPECT_EQ(c.viaProxy, c.url.empty() ? config().getProxyConfig(proxy) : config().getProxyConfig(proxy, c.url));
    if (!c.viaProxy) {
        EXPECT_EQ("", proxy.proxyUri.toString());
        return;
    }
    EXPECT_EQ("127.0.0.1", proxy.proxyUri.getHost());
    EXPECT_EQ(3128, proxy.proxyUri.getPort());
    // The credentials leave the URI for the fields; the password keeps its colons.
    EXPECT_EQ("", proxy.proxyUri.getUserInfo());
    EXPECT_EQ(c.userName, proxy.userName);
    EXPECT_EQ(c.password, proxy.password);
}

INSTANTIATE_TEST_SUITE_P(
    Variables, ProxyLookup,
    ::testing::Values(ProxyLookupCase{"NoVariablesMeanDirect", nullptr, nullptr, "https://127.0.0.1:1/x", false, "",
                                      ""},
                      ProxyLookupCase{"UserInfoSplitsAtTheFirstColon", "http://u:p:q@127.0.0.1:3128", nullptr,
                                      "https://storage.example/o", true, "u", "p:q"},
                      ProxyLookupCase{"TargetUrlExcludedByNoProxyIsDirect", "http://127.0.0.1:3128", "storage.internal",
                                      "https://storage.internal/object", false, "", ""},
                      ProxyLookupCase{"RestEndpointNotExcludedTakesTheProxy", "http://127.0.0.1:3128",
                                      "storage.internal", "", true, "", ""}),
    [](const ::testing::TestParamInfo<ProxyLookupCase>& info) { return std::string(info.param.name); });

TEST(ProxyConfig, StoredCredentialsFillOnlyAnEmptyUser)
{
    ::setenv("https_proxy", "http://127.0.0.1:3128", 1);
    config().setProxyCredentials("stored", "storedpw");

    ProxyConfig empty;
    ASSERT_TRUE(config().getProxyConfig(empty, "https://storage.example/o"));
    EXPECT_EQ("stored", empty.userName);
    EXPECT_EQ("storedpw", empty.password);

    ProxyConfig given;
    given.userName = "mine";
    given.password = "minepw";
    ASSERT_TRUE(config().getProxyConfig(given, "https://storage.example/o"));
    EXPECT_EQ("mine", given.userName);
    EXPECT_EQ("minepw", given.password);
}
