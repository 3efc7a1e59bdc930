#include "support/fixtures/TransportTest.h"
#include "support/fixtures/Watchdog.h"
#include "support/net/ConnectProxy.h"
#include "support/service/TestService.h"

#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace fv_test;

namespace {

struct Answer {
    int status = 0;
    std::string head;
    std::string body;

    std::string field(const std::string& name) const
    {
        const std::size_t at = head.find("\r\n" + name + ": ");
        if (at == std::string::npos)
            return {};
        const std::size_t start = at + name.size() + 4;
        return head.substr(start, head.find("\r\n", start) - start);
    }
};

// Sends `request` and reads one answer: its head, then the body its Content-Length announces.
Answer ask(Poco::Net::StreamSocket& socket, const std::string& request)
{
    socket.sendBytes(request.data(), static_cast<int>(request.size()));
    Answer answer;
    std::string received;
    char buffer[4096];
    std::size_t end = std::string::npos;
    while ((end = received.find("\r\n\r\n")) == std::string::npos) {
        const int count = socket.receiveBytes(buffer, sizeof buffer);
        if (count <= 0)
            return answer;
        received.append(buffer, static_cast<std::size_t>(count));
    }
    answer.head = received.substr(0, end + 2);
    answer.body = received.substr(end + 4);
    answer.status = std::stoi(answer.head.substr(9, 3));
    const std::string length = answer.field("Content-Length");
    const std::size_t expected = length.empty() ? 0 : std::stoul(length);
    while (answer.body.size() < expected) {
        const int count = socket.receiveBytes(buffer, sizeof buffer);
        if (count <= 0)
            break;
        answer.body.append(buffer, static_cast<std::size_t>(count));
    }
    return answer;
}

std::string authorization(const std::string& credentials)
{
    return credentials.empty() ? std::string() : "Proxy-Authorization: Basic " + base64(credentials) + "\r\n";
}

struct ProxyCase {
    const char* what;
    std::string method;
    std::string target; // "{service}" stands for 127.0.0.1:<the service's port>
    std::string credentials;
    int status;
    bool accepted;
};

TEST(ConnectProxy, AsksForCredentialsForwardsToThisMachineOnlyAndTunnels)
{
    Watchdog watchdog("proxy with credentials", std::chrono::seconds(60));
    TestService service;
    const std::string serviceHost = "127.0.0.1:" + std::to_string(service.httpPort());
    ConnectProxy proxy(ConnectProxy::Credentials{"user", "pa:ss word", "fv realm"});
    const std::string right = "user:pa:ss word";
    const ProxyCase cases[] = {
        {"no credentials", "GET", "http://{service}/app/fixtures/landing.html", "", 407, false},
        {"wrong password", "GET", "http://{service}/app/fixtures/landing.html", "user:wrong", 407, false},
        {"forwarded", "GET", "http://{service}/app/fixtures/landing.html?x=1", right, 200, true},
        {"another host", "GET", "http://example.invalid/", right, 403, true},
        {"another host's port", "GET", "http://example.invalid:{port}/app", right, 403, true},
        {"tunnel", "CONNECT", "{service}", right, 200, true},
        {"tunnel without credentials", "CONNECT", "{service}", "", 407, false},
        {"origin form", "GET", "/app", right, 400, true},
    };
    int challenges = 0;
    std::vector<std::string> accepted;
    for (const ProxyCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::string target = c.target;
        for (const std::string token : {"{service}", "{port}"}) {
            const std::size_t at = target.find(token);
            if (at != std::string::npos)
                target.replace(at, token.size(), token == "{port}" ? std::to_string(service.httpPort()) : serviceHost);
        }
        Poco::Net::StreamSocket socket(Poco::Net::SocketAddress("127.0.0.1", proxy.port()));
        socket.setReceiveTimeout(Poco::Timespan(20, 0));
        const Answer answer = ask(socket, c.method + " " + target + " HTTP/1.1\r\nHost: " + serviceHost + "\r\n" +
                                              authorization(c.credentials) + "\r\n");
        EXPECT_EQ(c.status, answer.status) << answer.head;
        challenges += c.status == 407 ? 1 : 0;
        if (c.accepted)
            accepted.push_back(c.credentials);
        if (c.status == 407) {
            EXPECT_EQ("Basic realm=\"fv realm\"", answer.field("Proxy-Authenticate"));
        }
        if (c.method == "CONNECT" && c.status == 200) {
            // The tunnel carries an ordinary exchange with the service.
            const Answer through = ask(socket, "GET /app/fixtures/landing.html HTTP/1.1\r\nHost: " + serviceHost +
                                                   "\r\nConnection: close\r\n\r\n");
            EXPECT_EQ(200, through.status);
            EXPECT_NE(std::string::npos, through.body.find("landing"));
        } else if (c.status == 200) {
            EXPECT_NE(std::string::npos, answer.body.find("landing"));
        }
    }
    EXPECT_EQ(challenges, proxy.challengesSent());
    EXPECT_EQ(accepted, proxy.acceptedCredentials());
    EXPECT_EQ(std::size(cases), proxy.requests().size());

    // The service got the forwarded request in origin form, without the proxy's fields.
    const auto forwarded = service.log().forPath("/app/fixtures/landing.html");
    ASSERT_EQ(2u, forwarded.size());
    EXPECT_EQ("/app/fixtures/landing.html?x=1", forwarded[0].target);
    EXPECT_FALSE(forwarded[0].headers.has("Proxy-Authorization"));
    EXPECT_EQ("close", forwarded[0].headers.get("Connection"));
}

TEST(ConnectProxy, AChallengedClientMayRetryOnTheSameConnection)
{
    Watchdog watchdog("proxy retry");
    TestService service;
    const std::string serviceHost = "127.0.0.1:" + std::to_string(service.httpPort());
    ConnectProxy proxy(ConnectProxy::Credentials{"user", "secret"});
    Poco::Net::StreamSocket socket(Poco::Net::SocketAddress("127.0.0.1", proxy.port()));
    socket.setReceiveTimeout(Poco::Timespan(20, 0));
    const std::string request =
        "GET http://" + serviceHost + "/app/fixtures/landing.html HTTP/1.1\r\nHost: " + serviceHost + "\r\n";
    const Answer first = ask(socket, request + "\r\n");
    EXPECT_EQ(407, first.status);
    EXPECT_EQ("Basic realm=\"fv-test-proxy\"", first.field("Proxy-Authenticate"));
    EXPECT_EQ("", first.field("Connection"));
    const Answer second = ask(socket, request + authorization("user:secret") + "\r\n");
    EXPECT_EQ(200, second.status);
    EXPECT_EQ(1, proxy.challengesSent());
    EXPECT_EQ(std::vector<std::string>{"user:secret"}, proxy.acceptedCredentials());
}

TEST(ConnectProxy, WithoutRequiredCredentialsEveryRequestPasses)
{
    Watchdog watchdog("open proxy");
    TestService service;
    const std::string serviceHost = "127.0.0.1:" + std::to_string(service.httpPort());
    ConnectProxy proxy;
    Poco::Net::StreamSocket socket(Poco::Net::SocketAddress("127.0.0.1", proxy.port()));
    socket.setReceiveTimeout(Poco::Timespan(20, 0));
    const Answer answer =
        ask(socket, "GET http://" + serviceHost + "/app/fixtures/landing.html HTTP/1.1\r\nHost: " + serviceHost +
                        "\r\n" + authorization("any:thing") + "\r\n");
    EXPECT_EQ(200, answer.status);
    EXPECT_EQ(0, proxy.challengesSent());
    EXPECT_TRUE(proxy.acceptedCredentials().empty());
    ASSERT_EQ(1u, proxy.requests().size());
    EXPECT_EQ("Basic " + base64("any:thing"), proxy.requests()[0].proxyAuthorization);
}

} // namespace
