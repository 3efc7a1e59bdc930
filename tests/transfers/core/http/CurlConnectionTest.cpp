#include "core/config/FvTransfersGlobalConfig.h"
#include "core/http/CurlConnection.h"
#include "core/http/CurlHandleCache.h"
#include "core/http/CurlHelper.h"
#include "core/http/FullHttpBodyRetriever.h"
#include "core/http/HttpResponseFetcher.h"

#include "support/fixtures/TransportTest.h"
#include "support/net/ScriptedServer.h"
#include "support/net/TestCa.h"
#include "support/service/TestService.h"

#include <Poco/String.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <set>
#include <stdexcept>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace fv_transfers;
using fv_test::Script;
using fv_test::ScriptedServer;

namespace {

const std::string kEmptyOk = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";

void useShortTimeouts(CCurlConnection& connection)
{
    connection.connectTimeoutMs = 2000;
    connection.sendTimeoutMs = 400;
    connection.receiveTimeoutMs = 400;
}

dt_error connectAndGet(CCurlConnection& connection, const std::string& url)
{
    const dt_error result = connection.connect(url, false);
    if (result != dt_success)
        return result;
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, "/");
    return connection.sendRequest(request);
}

// A connection with short time-outs that has sent a GET to the URL.
struct Exchange {
    explicit Exchange(const std::string& url)
    {
        useShortTimeouts(connection);
        sent = connectAndGet(connection, url);
    }
    dt_error readHead() { return connection.receiveResponse(response, extra); }
    std::string extraText() const { return std::string(extra.begin(), extra.end()); }

    CCurlConnection connection;
    dt_error sent = dt_general_error;
    Poco::Net::HTTPResponse response;
    std::vector<char> extra;
};

// Receives until the connection reports anything but an idle slice with bytes.
dt_error receiveAll(CCurlConnection& connection, std::string& out)
{
    char buffer[1024];
    for (;;) {
        std::size_t received = 0;
        const dt_error result = connection.receive(buffer, sizeof buffer, received);
        out.append(buffer, received);
        if (result != dt_success)
            return result;
    }
}

// A loopback port that refuses connections while this object lives: bound, so no other
// process can take it, but not listening.
class ClosedPort {
public:
    ClosedPort() : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot bind a loopback port");
        m_port = ntohs(address.sin_port);
    }
    ~ClosedPort() { ::close(m_fd); }
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;

    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/"; }

private:
    int m_fd;
    std::uint16_t m_port = 0;
};

// Sockets of this process connected to the given local port.
int openClientSockets(std::uint16_t serverPort)
{
    std::set<std::string> inodes;
    DIR* fds = ::opendir("/proc/self/fd");
    while (dirent* entry = ::readdir(fds)) {
        char target[256] = {};
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
        const std::string text(target, length > 0 ? static_cast<std::size_t>(length) : 0);
        if (text.rfind("socket:[", 0) == 0)
            inodes.insert(text.substr(8, text.size() - 9));
    }
    ::closedir(fds);
    char remote[16];
    std::snprintf(remote, sizeof remote, ":%04X", serverPort);
    std::ifstream table("/proc/net/tcp");
    std::string line;
    // The kernel's table is not read atomically: a row can show up twice while it changes.
    std::set<std::string> matched;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, peer, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> local >> peer >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
        if (peer.size() > 5 && peer.compare(peer.size() - 5, 5, remote) == 0 && inodes.count(inode))
            matched.insert(inode);
    }
    return static_cast<int>(matched.size());
}

} // namespace

TEST(CurlConnection, WritesExactRequestHead)
{
    fv_test::prepareTransportTest();
    const std::string userAgent = CFvTransfersGlobalConfig::getInstance()->getUserAgent();
    struct Case {
        std::string method;
        std::string path;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string expectedFields; // after the request line, before "Host"
    };
    const std::vector<Case> cases = {
        {"GET", "/a/b?x=1&y=%20z", {}, "Connection: Keep-Alive\r\nUser-Agent: " + userAgent + "\r\n"},
        {"POST",
         "/api",
         {{"Content-Length", "0"}, {"User-Agent", "Mine/1"}, {"x-extra", "v"}},
         "Content-Length: 0\r\nUser-Agent: Mine/1\r\nx-extra: v\r\nConnection: Keep-Alive\r\n"},
    };
    for (const auto& c : cases) {
        ScriptedServer server({Script().readHead().write(kEmptyOk)});
        CCurlConnection connection;
        useShortTimeouts(connection);
        ASSERT_EQ(dt_success, connection.connect(server.url(c.path), false));
        Poco::Net::HTTPRequest request(c.method, "/");
        for (const auto& header : c.headers)
            request.set(header.first, header.second);
        ASSERT_EQ(dt_success, connection.sendRequest(request));
        Poco::Net::HTTPResponse response;
        std::vector<char> extra;
        ASSERT_EQ(dt_success, connection.receiveResponse(response, extra));
        EXPECT_EQ(c.method + " " + c.path + " HTTP/1.1\r\n" + c.expectedFields +
                      "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n\r\n",
                  server.head(0));
    }
}

TEST(CurlConnection, HostCarriesPortUnlessItIsTheSchemeDefault)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"http://example.test/", "example.test"},
        {"http://example.test:80/", "example.test"},
        {"https://example.test:443/", "example.test"},
        {"https://example.test:8443/", "example.test:8443"},
        {"http://example.test:443/", "example.test:443"},
        {"https://example.test:80/", "example.test:80"},
        {"http://[::1]:8080/", "[::1]:8080"},
    };
    for (const auto& c : cases) {
        Poco::Net::HTTPRequest request;
        std::string head;
        ASSERT_TRUE(curl_helper::formatRequestHead(c.first, "agent", request, head)) << c.first;
        EXPECT_NE(std::string::npos, head.find("\r\nHost: " + c.second + "\r\n")) << c.first << "\n" << head;
    }
}

TEST(CurlConnection, RefusesControlCharactersInTheHead)
{
    Poco::Net::HTTPRequest request;
    request.set("x-fv-auth-token", "abc\r\nX-Injected: 1");
    std::string head;
    EXPECT_FALSE(curl_helper::formatRequestHead("http://127.0.0.1:1/", "agent", request, head));
}

TEST(CurlConnection, ReadsTheResponseHeadHoweverItArrives)
{
    fv_test::prepareTransportTest();
    const std::string head = "HTTP/1.1 201 Created\r\nContent-Length: 5\r\nX-Id: 7\r\n\r\n";
    struct Case {
        std::string name;
        std::vector<std::size_t> cuts;
        std::string bytes;
        std::string expectedExtra;
    };
    const std::vector<Case> cases = {
        {"split inside the head and the terminator", {5, 20, head.size() - 2}, head + "hello", "hello"},
        {"head and body in one read", {}, head + "hello", "hello"},
        {"head ends at a read boundary", {head.size()}, head + "hello", ""},
    };
    for (const auto& c : cases) {
        ScriptedServer server({Script().readHead().writeSplit(c.bytes, c.cuts)});
        Exchange exchange(server.url());
        ASSERT_EQ(dt_success, exchange.sent);
        ASSERT_EQ(dt_success, exchange.readHead()) << c.name;
        EXPECT_EQ(201, exchange.response.getStatus()) << c.name;
        EXPECT_EQ("7", exchange.response.get("X-Id")) << c.name;
        const std::string rest = exchange.extraText();
        if (c.expectedExtra.empty()) {
            EXPECT_EQ(std::string(), rest) << c.name;
            std::string body;
            EXPECT_EQ(dt_connection_closed, receiveAll(exchange.connection, body));
            EXPECT_EQ("hello", body) << c.name;
        } else {
            EXPECT_EQ(c.expectedExtra, rest) << c.name;
        }
    }
}

TEST(CurlConnection, InterimAnswerLeavesTheFinalAnswerInTheExtraBytes)
{
    fv_test::prepareTransportTest();
    ScriptedServer server({Script().readHead().write(
        "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nETag: \"abc\"\r\nContent-Length: 2\r\n\r\nok")});
    Exchange exchange(server.url());
    ASSERT_EQ(dt_success, exchange.sent);
    ASSERT_EQ(dt_success, exchange.readHead());
    EXPECT_EQ(100, exchange.response.getStatus());
    ASSERT_EQ(dt_success, exchange.readHead());
    EXPECT_EQ(200, exchange.response.getStatus());
    EXPECT_EQ("\"abc\"", exchange.response.get("ETag"));
    EXPECT_EQ("ok", exchange.extraText());
}

TEST(CurlConnection, SilentServerTimesOutAfterTheReceiveTimeout)
{
    fv_test::prepareTransportTest();
    ScriptedServer server({Script().readHead().stall()});
    Exchange exchange(server.url());
    ASSERT_EQ(dt_success, exchange.sent);
    EXPECT_EQ(dt_timeout, exchange.readHead());
}

TEST(CurlConnection, CloseBeforeTheHeadEndsIsConnectionClosed)
{
    fv_test::prepareTransportTest();
    CFvTransfersGlobalConfig::getInstance()->setCaCertificatesFile(fv_test::TestCa::instance().caFile());
    for (const bool tls : {false, true}) {
        for (const auto& script :
             {Script().readHead().close(), Script().readHead().write("HTTP/1.1 200 OK\r\nCont").close()}) {
            ScriptedServer::Options options;
            options.tls = tls;
            ScriptedServer server({script}, options);
            Exchange exchange(server.url());
            ASSERT_EQ(dt_success, exchange.sent);
            EXPECT_EQ(dt_connection_closed, exchange.readHead()) << (tls ? "tls" : "plain");
        }
    }
}

TEST(CurlConnection, CloseAfterSomeBytesDeliversThemFirst)
{
    fv_test::prepareTransportTest();
    ScriptedServer server(
        {Script().readHead().write("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n").sleep(50).write("abcd").close()});
    Exchange exchange(server.url());
    ASSERT_EQ(dt_success, exchange.sent);
    ASSERT_EQ(dt_success, exchange.readHead());
    std::string body = exchange.extraText();
    EXPECT_EQ(dt_connection_closed, receiveAll(exchange.connection, body));
    EXPECT_EQ("abcd", body);
}

TEST(CurlConnection, StalledPeerGivesIdleSlicesThenTimesOut)
{
    fv_test::prepareTransportTest();
    CFvTransfersGlobalConfig::getInstance()->setCaCertificatesFile(fv_test::TestCa::instance().caFile());
    // Over TLS a send first waits for room in the socket, a wait of its own.
    for (const bool tls : {false, true}) {
        ScriptedServer::Options options;
        options.receiveBufferBytes = 4096;
        options.tls = tls;
        ScriptedServer server({Script().readHead().stall()}, options);
        CCurlConnection connection;
        useShortTimeouts(connection);
        connection.sendTimeoutMs = 1300; // more than one one-second slice
        ASSERT_EQ(dt_success, connectAndGet(connection, server.url())) << tls;
        const std::vector<char> block(1 << 20, 'x');
        int idleSlices = 0;
        dt_error result = dt_success;
        for (int i = 0; i < 10000 && result == dt_success; ++i) {
            std::size_t sent = 0;
            result = connection.send(block.data(), block.size(), sent);
            if (result == dt_success && sent == 0)
                ++idleSlices;
        }
        EXPECT_EQ(dt_timeout, result) << tls;
        EXPECT_GE(idleSlices, 1) << tls;
    }
}

TEST(CurlConnection, IdleTimeoutFiresOnlyWithoutTraffic)
{
    fv_test::prepareTransportTest();
    Script script;
    script.readHead().write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n");
    for (int i = 0; i < 7; ++i)
        script.sleep(100).write("z");
    script.stall();
    ScriptedServer server({script});
    Exchange exchange(server.url());
    ASSERT_EQ(dt_success, exchange.sent);
    exchange.connection.receiveTimeoutMs = 500; // the trickle lasts 700 ms
    ASSERT_EQ(dt_success, exchange.readHead());
    std::string body;
    EXPECT_EQ(dt_timeout, receiveAll(exchange.connection, body));
    EXPECT_EQ("zzzzzzz", body);
}

TEST(CurlConnection, ClosedPortFailsAndDiscardsTheHandle)
{
    fv_test::prepareTransportTest();
    ScriptedServer server({Script().readHead().write(kEmptyOk)});
    CCurlConnection connection;
    useShortTimeouts(connection);
    ASSERT_EQ(dt_success, connectAndGet(connection, server.url()));
    ASSERT_NE(CURL_SOCKET_BAD, connection.socket);
    ASSERT_EQ(1u, CCurlHandleCache::getInstance().handleCount("127.0.0.1"));

    // The failing connect runs on a connected object: nothing of the old connection may stay.
    const ClosedPort closed;
    EXPECT_EQ(dt_general_error, connection.connect(closed.url(), false));
    EXPECT_EQ(CURL_SOCKET_BAD, connection.socket);
    // The old handle is freed; the failed one until the object lets it go.
    EXPECT_EQ(1u, CCurlHandleCache::getInstance().handleCount("127.0.0.1"));
    connection.disconnect();
    EXPECT_EQ(0u, CCurlHandleCache::getInstance().handleCount("127.0.0.1"));
}

TEST(CurlConnection, ConcurrentConnectionsUseSeparateHandlesAndFreeThem)
{
    fv_test::prepareTransportTest();
    ScriptedServer server({Script().readHead().write(kEmptyOk)});
    const std::string byName = "http://localhost:" + std::to_string(server.port()) + "/";
    auto& cache = CCurlHandleCache::getInstance();
    {
        CCurlConnection first;
        CCurlConnection second;
        CCurlConnection third;
        ASSERT_EQ(dt_success, first.connect(server.url(), false));
        ASSERT_EQ(dt_success, second.connect(server.url(), false));
        ASSERT_EQ(dt_success, third.connect(byName, false));
        EXPECT_NE(first.lease->handle(), second.lease->handle());
        EXPECT_EQ(2u, cache.handleCount("127.0.0.1"));
        EXPECT_EQ(1u, cache.handleCount("localhost"));
        EXPECT_EQ(2u, cache.hostCount());
    }
    // Nothing stays behind for a host no longer used.
    EXPECT_EQ(0u, cache.hostCount());
    Exchange again(server.url());
    ASSERT_EQ(dt_success, again.sent);
    EXPECT_EQ(dt_success, again.readHead());
    EXPECT_EQ(1u, cache.handleCount("127.0.0.1"));
    EXPECT_EQ(1u, cache.hostCount());
}

TEST(CurlConnection, FinishedConnectionsLeaveNoSocketOpen)
{
    fv_test::prepareTransportTest();
    ScriptedServer server({Script().readHead().write(kEmptyOk).stall()});
    for (int i = 0; i < 5; ++i) {
        Exchange exchange(server.url());
        ASSERT_EQ(dt_success, exchange.sent);
        ASSERT_EQ(dt_success, exchange.readHead());
        EXPECT_EQ(1, openClientSockets(server.port()));
    }
    EXPECT_EQ(0, openClientSockets(server.port()));
    EXPECT_EQ(0u, CCurlHandleCache::getInstance().hostCount());
}

TEST(CurlConnection, WorksWithDescriptorsAboveTheSelectLimit)
{
    fv_test::prepareTransportTest();
    std::vector<int> fds;
    for (int i = 0; i < 1100; ++i) {
        const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            break;
        fds.push_back(fd);
    }
    if (fds.size() < 1100) {
        for (const int fd : fds)
            ::close(fd);
        GTEST_SKIP() << "descriptor limit too low";
    }
    ScriptedServer server(
        {Script().readHead().write("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n").sleep(50).write("abc")});
    Exchange exchange(server.url());
    ASSERT_EQ(dt_success, exchange.sent);
    EXPECT_GE(exchange.connection.socket, 1024);
    ASSERT_EQ(dt_success, exchange.readHead());
    std::string body = exchange.extraText();
    receiveAll(exchange.connection, body);
    EXPECT_EQ("abc", body);
    exchange.connection.disconnect();
    for (const int fd : fds)
        ::close(fd);
}

TEST(CurlConnection, OversizedHeadIsRefused)
{
    fv_test::prepareTransportTest();
    std::string endless = "HTTP/1.1 200 OK\r\n";
    while (endless.size() < 3 * curl_helper::kMaxResponseHeadSize)
        endless += "X-Filler: 0123456789abcdef0123456789abcdef\r\n";
    ScriptedServer server({Script().readHead().write(endless).stall()});
    Exchange exchange(server.url());
    ASSERT_EQ(dt_success, exchange.sent);
    EXPECT_EQ(dt_general_error, exchange.readHead());
}

TEST(CurlConnection, MalformedHeadIsAnErrorCodeNotAnException)
{
    fv_test::prepareTransportTest();
    const std::vector<std::string> heads = {
        "HTTP/1.1 abc OK\r\n\r\n",
        "FOO 200 OK\r\n\r\n",
        "HTTP/1.1 20\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\n",
        "HTTP/1.1 200 OK\r\n" + std::string(300, 'N') + ": v\r\n\r\n",
        "\r\n\r\n",
    };
    for (const auto& head : heads) {
        ScriptedServer server({Script().readHead().write(head)});
        Exchange exchange(server.url());
        ASSERT_EQ(dt_success, exchange.sent);
        dt_error result = dt_success;
        EXPECT_NO_THROW(result = exchange.readHead()) << head;
        EXPECT_EQ(dt_general_error, result) << head;
    }
}

TEST(CurlConnection, TlsAcceptsAPeerSignedByTheConfiguredCa)
{
    fv_test::prepareTransportTest();
    CFvTransfersGlobalConfig::getInstance()->setCaCertificatesFile(fv_test::TestCa::instance().caFile());
    ScriptedServer::Options options;
    options.tls = true;
    ScriptedServer server(
        {Script().readHead().write("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\n").sleep(30).write("secure")}, options);
    for (const std::string host : {"127.0.0.1", "localhost"}) {
        const std::string url = "https://" + host + ":" + std::to_string(server.port()) + "/tls";
        Exchange exchange(url);
        ASSERT_EQ(dt_success, exchange.sent) << host;
        ASSERT_EQ(dt_success, exchange.readHead());
        std::string body = exchange.extraText();
        receiveAll(exchange.connection, body);
        EXPECT_EQ("secure", body);
    }
    EXPECT_EQ(0u, server.head(0).find("GET /tls HTTP/1.1\r\n"));
}

TEST(CurlConnection, TlsRefusesPeersOutsideTheTrustedStores)
{
    fv_test::prepareTransportTest();
    const auto& ca = fv_test::TestCa::instance();
    struct Case {
        std::string configuredCa;
        std::string cert;
        std::string key;
    };
    const std::vector<Case> cases = {
        {ca.caFile(), ca.untrustedCertFile(), ca.untrustedKeyFile()}, // self-signed, not in any store
        {"", ca.serverCertFile(), ca.serverKeyFile()},                // test CA not configured
        {ca.caFile(), ca.otherNameCertFile(), ca.otherNameKeyFile()}, // trusted, but for another name
    };
    for (const auto& c : cases) {
        CFvTransfersGlobalConfig::getInstance()->setCaCertificatesFile(c.configuredCa);
        ScriptedServer::Options options;
        options.tls = true;
        options.certFile = c.cert;
        options.keyFile = c.key;
        ScriptedServer server({Script().readHead().write(kEmptyOk)}, options);
        CCurlConnection connection;
        useShortTimeouts(connection);
        EXPECT_EQ(dt_general_error, connection.connect(server.url(), false)) << c.cert;
        EXPECT_EQ(std::string(), server.head(0));
    }
}

TEST(CurlConnection, ErrorTextTellsAnUntrustedCertificateFromARefusedConnection)
{
    fv_test::prepareTransportTest();
    CFvTransfersGlobalConfig::getInstance()->setCaCertificatesFile("");
    fv_test::TestServiceOptions options;
    options.https = true;
    fv_test::TestService service(options);
    CCurlConnection untrusted;
    useShortTimeouts(untrusted);
    // The code stays the general one that callers test for; the text names the cause.
    EXPECT_EQ(dt_general_error, untrusted.connect(service.url("/", true), false));
    EXPECT_NE(std::string::npos, untrusted.lastErrorText().find("certificate")) << untrusted.lastErrorText();

    const ClosedPort closed;
    CCurlConnection refused;
    useShortTimeouts(refused);
    EXPECT_EQ(dt_general_error, refused.connect(closed.url(), false));
    EXPECT_NE(std::string::npos, Poco::toLower(refused.lastErrorText()).find("connection refused"))
        << refused.lastErrorText();
    EXPECT_EQ(std::string::npos, refused.lastErrorText().find("certificate")) << refused.lastErrorText();
}

TEST(CurlConnection, ErrorTextNamesHeadAndBodyFailures)
{
    fv_test::prepareTransportTest();
    struct Case {
        Script script;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {Script().readHead().write("HTTP/1.1 two hundred\r\n\r\n"), "malformed response head"},
        {Script().readHead().stall(), "400 ms"},
        {Script().readHead().close(), "closed"},
        {Script().readHead().write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n"), "chunk size"},
    };
    for (const auto& c : cases) {
        ScriptedServer server({c.script});
        CCurlConnection connection;
        useShortTimeouts(connection);
        ASSERT_EQ(dt_success, connectAndGet(connection, server.url()));
        CHttpResponseFetcher fetcher(&connection);
        Poco::Net::HTTPResponse* response = nullptr;
        IHttpResponseBodyFetcher* body = nullptr;
        dt_error result = fetcher.fetch(response, body);
        if (result == dt_success) {
            std::string content;
            result = CFullHttpBodyRetriever(body).retrieve(content);
        }
        EXPECT_NE(dt_success, result) << c.expected;
        EXPECT_NE(std::string::npos, connection.lastErrorText().find(c.expected)) << connection.lastErrorText();
    }
}

TEST(CurlConnection, AResponseHeadTrickledByteByByteTimesOut)
{
    fv_test::prepareTransportTest();
    // Each byte comes well within the idle time-out, but the whole head would take many.
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nX-Slow: " + std::string(40, 's') + "\r\n\r\n";
    std::vector<std::size_t> cuts;
    for (std::size_t i = 1; i < head.size(); ++i)
        cuts.push_back(i);
    ScriptedServer server({Script().readHead().writeSplit(head, cuts, 60)});
    Exchange exchange(server.url());
    ASSERT_EQ(dt_success, exchange.sent);
    // A bound of the test's own, so that a reader without a head deadline fails instead of
    // hanging; stopping the server ends such a read.
    auto read = std::async(std::launch::async, [&exchange] { return exchange.readHead(); });
    const bool ended = read.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    if (!ended)
        server.stop();
    EXPECT_TRUE(ended);
    EXPECT_EQ(dt_timeout, read.get());
    EXPECT_NE(std::string::npos, exchange.connection.lastErrorText().find("response head"))
        << exchange.connection.lastErrorText();
}

TEST(CurlConnection, ContentLengthFieldsMustAgree)
{
    struct Case {
        std::string fields;
        dt_error result;
        std::string length; // after folding
    };
    const std::vector<Case> cases = {
        {"Content-Length: 5\r\n", dt_success, "5"},
        {"Content-Length: 5\r\nContent-Length: 5\r\n", dt_success, "5"},
        {"Content-Length: 5, 5\r\n", dt_success, "5"},
        {"Content-Length: 5,5\r\ncontent-length: 5\r\n", dt_success, "5"},
        {"Content-Length: 5\r\nContent-Length: 6\r\n", dt_general_error, ""},
        {"Content-Length: 6\r\nX-Other: 1\r\nContent-Length: 5\r\n", dt_general_error, ""},
        {"Content-Length: 5, 6\r\n", dt_general_error, ""},
        {"Content-Length: 5\r\ncontent-length: 50\r\n", dt_general_error, ""},
        {"Content-Length: 5, x\r\n", dt_general_error, ""},
        {"Content-Length: -5\r\n", dt_general_error, ""},
        {"Content-Length: ,\r\n", dt_general_error, ""},
    };
    for (const auto& c : cases) {
        Poco::Net::HTTPResponse response;
        std::string errorText;
        const std::string head = "HTTP/1.1 200 OK\r\n" + c.fields + "\r\n";
        EXPECT_EQ(c.result, curl_helper::parseResponseHead(head, response, errorText)) << c.fields;
        if (c.result == dt_success) {
            EXPECT_EQ(c.length, response.get("Content-Length")) << c.fields;
            EXPECT_EQ(std::string(), errorText) << c.fields;
        } else {
            EXPECT_NE(std::string::npos, errorText.find("Content-Length")) << c.fields << ": " << errorText;
        }
    }
}

TEST(CurlConnection, ConflictingContentLengthsRefuseTheAnswer)
{
    fv_test::prepareTransportTest();
    ScriptedServer server(
        {Script().readHead().write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 7\r\n\r\nokextra")});
    Exchange exchange(server.url());
    ASSERT_EQ(dt_success, exchange.sent);
    EXPECT_EQ(dt_general_error, exchange.readHead());
}
