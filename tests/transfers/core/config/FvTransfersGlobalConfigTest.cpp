#include "core/config/FvTransfersGlobalConfig.h"
#include "core/config/SystemInfo.h"
#include "support/fixtures/TestEnvironment.h"

#include "FvVersion.h"

#include <gtest/gtest.h>

#include <cstdlib>
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

TEST(GlobalConfig, FileNames)
{
    EXPECT_EQ("fv_transfers_v8.db", CFvTransfersGlobalConfig::getDbFileName());
    EXPECT_EQ("fv_transfers.log", config().getFirstLogFileName());
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

// Each TEST runs in its own process, so the libproxy factory sees the environment set here.
TEST(ProxyConfig, NoProxyVariablesMeanDirect)
{
    ProxyConfig proxy;
    EXPECT_FALSE(config().getProxyConfig(proxy, "https://127.0.0.1:1/x"));
    EXPECT_EQ("", proxy.proxyUri.toString());
}

TEST(ProxyConfig, UserInfoSplitsAtTheFirstColon)
{
    ::setenv("https_proxy", "http://u:p:q@127.0.0.1:3128", 1);
    ProxyConfig proxy;
    ASSERT_TRUE(config().getProxyConfig(proxy, "https://storage.example/o"));
    EXPECT_EQ("u", proxy.userName);
    EXPECT_EQ("p:q", proxy.password);
    EXPECT_EQ("", proxy.proxyUri.getUserInfo());
    EXPECT_EQ("127.0.0.1", proxy.proxyUri.getHost());
    EXPECT_EQ(3128, proxy.proxyUri.getPort());
}

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

TEST(ProxyConfig, IsAskedForTheTargetUrlNotTheRestEndpoint)
{
    ::setenv("https_proxy", "http://127.0.0.1:3128", 1);
    ::setenv("no_proxy", "storage.internal", 1);
    config().setRestEndPointUrl("https://rest.example");

    ProxyConfig forStorage;
    EXPECT_FALSE(config().getProxyConfig(forStorage, "https://storage.internal/object"));
    EXPECT_EQ("", forStorage.proxyUri.toString());

    ProxyConfig forRest;
    EXPECT_TRUE(config().getProxyConfig(forRest));
    EXPECT_EQ("127.0.0.1", forRest.proxyUri.getHost());
}
