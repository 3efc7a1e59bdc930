#include "core/config/FvTransfersGlobalConfig.h"
#include "core/http/ConnectionSettings.h"
#include "core/http/CurlConnection.h"
#include "core/rest/RestApiCallBase.h"

#include "support/fixtures/TransportTest.h"
#include "support/net/ConnectProxy.h"
#include "support/net/ScriptedServer.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/net/TestCa.h"
#include "support/service/TestService.h"

#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <memory>
#include <string>
#include <vector>

using namespace fv_transfers;

namespace {

// Routes every URL through one proxy, whatever the configuration says.
class FixedProxy : public IProxyLookup {
public:
    explicit FixedProxy(std::uint16_t port) : m_uri("http://127.0.0.1:" + std::to_string(port)) {}
    bool proxyFor(const std::string&, ProxyConfig& config) const override
    {
        config.proxyUri = m_uri;
        return true;
    }

private:
    Poco::URI m_uri;
};

fv_test::TestService secureService(const std::string& certificateFile = "", const std::string& keyFile = "")
{
    fv_test::TestServiceOptions options;
    options.https = true;
    options.certificateFile = certificateFile;
    options.privateKeyFile = keyFile;
    return fv_test::TestService(options);
}

// The status of a GET over the connection, or 0 when it failed.
int get(CCurlConnection& connection, const std::string& url)
{
    connection.connectTimeoutMs = 5000;
    connection.sendTimeoutMs = 5000;
    connection.receiveTimeoutMs = 5000;
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, "/");
    Poco::Net::HTTPResponse response;
    std::vector<char> extra;
    if (connection.connect(url, false) != dt_success || connection.sendRequest(request) != dt_success ||
        connection.receiveResponse(response, extra) != dt_success)
        return 0;
    return static_cast<int>(response.getStatus());
}

// The status of a GET over a new connection trusting `caFile` besides the system store, or 0
// when it failed.
int getTrusting(const std::string& url, const std::string& caFile)
{
    ConnectionSettings settings = connectionSettingsFromConfig();
    settings.caCertificatesFile = caFile;
    CCurlConnection connection(settings);
    return get(connection, url);
}

// Puts `content` at `path` the way package managers and editors do: a new file renamed over it.
void replaceFile(const std::string& path, const std::string& content)
{
    fv_test::writeFile(path + ".new", content);
    ASSERT_EQ(0, std::rename((path + ".new").c_str(), path.c_str()));
}

} // namespace

TEST(ConnectionSettings, DefaultsAreTheConfigurationsSettings)
{
    fv_test::prepareTransportTest();
    CFvTransfersGlobalConfig* config = CFvTransfersGlobalConfig::getInstance();
    config->setCaCertificatesFile(fv_test::TestCa::instance().caFile());
    config->setUserAgent("Configured/2");
    const CCurlConnection connection;
    EXPECT_EQ(fv_test::TestCa::instance().caFile(), connection.settings().caCertificatesFile);
    EXPECT_EQ("Configured/2", connection.settings().userAgent);
    ASSERT_NE(nullptr, connection.settings().proxyLookup);
    ProxyConfig proxy;
    EXPECT_FALSE(connection.settings().proxyLookup->proxyFor("http://127.0.0.1:1/", proxy));
}

TEST(ConnectionSettings, AConnectionTrustsItsOwnCaAndSendsItsOwnAgent)
{
    fv_test::prepareTransportTest();
    // The configuration trusts nothing beyond the system store and names another agent.
    CFvTransfersGlobalConfig::getInstance()->setCaCertificatesFile("");
    CFvTransfersGlobalConfig::getInstance()->setUserAgent("Configured/1");
    fv_test::TestService service = secureService();
    const std::string url = service.url("/own-settings", true);

    CCurlConnection configured;
    EXPECT_EQ(0, get(configured, url));
    EXPECT_NE(std::string::npos, configured.lastErrorText().find("certificate")) << configured.lastErrorText();

    ConnectionSettings settings;
    settings.caCertificatesFile = fv_test::TestCa::instance().caFile();
    settings.userAgent = "OwnSettings/1";
    CCurlConnection own(settings);
    EXPECT_EQ(404, get(own, url));
    EXPECT_EQ(std::string(), own.lastErrorText());
    const auto requests = service.log().forPath("/own-settings");
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("OwnSettings/1", requests[0].headers.get("User-Agent"));
}

TEST(ConnectionSettings, AConnectionUsesItsOwnProxyLookup)
{
    fv_test::prepareTransportTest();
    fv_test::ConnectProxy proxy;
    fv_test::ScriptedServer server(
        {fv_test::Script().readHead().write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")});
    ConnectionSettings settings = connectionSettingsFromConfig();
    settings.proxyLookup = std::make_shared<FixedProxy>(proxy.port());
    CCurlConnection connection(settings);
    EXPECT_EQ(200, get(connection, server.url()));
    const auto requests = proxy.requests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("CONNECT 127.0.0.1:" + std::to_string(server.port()) + " HTTP/1.1", requests[0].requestLine);
}

TEST(ConnectionSettings, ARestCallSendsTheAgentOfItsSettings)
{
    fv_test::prepareTransportTest();
    CFvTransfersGlobalConfig::getInstance()->setCaCertificatesFile("");
    fv_test::TestService service = secureService();
    ConnectionSettings settings = connectionSettingsFromConfig();
    settings.caCertificatesFile = fv_test::TestCa::instance().caFile();
    settings.userAgent = "RestAgent/3";
    CRestApiCallBase call(service.secureBaseUrl(), settings);
    ASSERT_EQ(dt_success, call.sendRequest("/rest-agent", Json::Value(), {}, RestRequestType::Get));
    Json::Value root;
    EXPECT_EQ(dt_rest_client_error, call.receiveResponse(root, false));
    EXPECT_EQ(404, call.httpStatus());
    const auto requests = service.log().forPath("/rest-agent");
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("RestAgent/3", requests[0].headers.get("User-Agent"));
}

TEST(ConnectionSettings, TheConfiguredCaIsTrustedOnlyByConnectionsConfiguredWithIt)
{
    fv_test::prepareTransportTest();
    const std::string caFile = fv_test::TestCa::instance().caFile();
    // Both orders: a store, or a TLS session, made for one setting must not serve the other.
    const std::vector<std::vector<bool>> orders = {{true, false, true, false}, {false, true, false, true}};
    for (const auto& order : orders) {
        fv_test::TestService service = secureService();
        const std::string url = service.url("/trust", true);
        for (std::size_t i = 0; i < order.size(); ++i)
            EXPECT_EQ(order[i] ? 404 : 0, getTrusting(url, order[i] ? caFile : ""))
                << "step " << i << " of " << order[0];
    }
}

TEST(ConnectionSettings, ReplacingTheCaFileChangesWhatIsTrusted)
{
    fv_test::prepareTransportTest();
    const auto& ca = fv_test::TestCa::instance();
    const fv_test::TempDir dir;
    const std::string caFile = dir.file("trusted.pem");
    // One server signed by the test CA, one with a self-signed certificate.
    fv_test::TestService signedByCa = secureService();
    fv_test::TestService selfSigned = secureService(ca.untrustedCertFile(), ca.untrustedKeyFile());
    const std::string signedUrl = signedByCa.url("/replaced", true);
    const std::string selfSignedUrl = selfSigned.url("/replaced", true);

    fv_test::writeFile(caFile, fv_test::readFile(ca.caFile()));
    EXPECT_EQ(404, getTrusting(signedUrl, caFile));
    EXPECT_EQ(0, getTrusting(selfSignedUrl, caFile));

    replaceFile(caFile, fv_test::readFile(ca.untrustedCertFile()));
    EXPECT_EQ(0, getTrusting(signedUrl, caFile));
    EXPECT_EQ(404, getTrusting(selfSignedUrl, caFile));

    replaceFile(caFile, fv_test::readFile(ca.caFile()));
    EXPECT_EQ(404, getTrusting(signedUrl, caFile));
    EXPECT_EQ(0, getTrusting(selfSignedUrl, caFile));
}

TEST(ConnectionSettings, APeerCertifiedForAnotherNameIsRefused)
{
    fv_test::prepareTransportTest();
    const auto& ca = fv_test::TestCa::instance();
    fv_test::TestService trusted = secureService();
    fv_test::TestService otherName = secureService(ca.otherNameCertFile(), ca.otherNameKeyFile());
    // The store is cached by the first connection; the name is still checked for the second.
    EXPECT_EQ(404, getTrusting(trusted.url("/name", true), ca.caFile()));
    EXPECT_EQ(0, getTrusting(otherName.url("/name", true), ca.caFile()));
    EXPECT_EQ(0, getTrusting(otherName.url("/name", true), ca.caFile()));
}

TEST(ConnectionSettings, ManyConnectionsOnSeveralThreadsKeepTheirOwnTrust)
{
    fv_test::prepareTransportTest();
    const std::string caFile = fv_test::TestCa::instance().caFile();
    fv_test::TestService service = secureService();
    const std::string url = service.url("/threads", true);
    constexpr int kThreads = 6;
    constexpr int kConnections = 6;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kConnections; ++i) {
                const bool withCa = (t + i) % 2 == 0;
                if (getTrusting(url, withCa ? caFile : "") != (withCa ? 404 : 0))
                    ++wrong;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(0, wrong.load());
}
