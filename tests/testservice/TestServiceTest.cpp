#include "support/fixtures/TestBytes.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"
#include "support/net/HttpExchange.h"
#include "support/net/TestCa.h"
#include "support/service/TestService.h"

#include <gtest/gtest.h>

#include <Poco/Net/Context.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/HTTPSClientSession.h>
#include <Poco/Net/SecureStreamSocket.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Pipe.h>
#include <Poco/PipeStream.h>
#include <Poco/Process.h>

#include <cerrno>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace fv_test;

namespace {

const std::string kContent = "hello world, stored!"; // 20 bytes

// A client that writes exact bytes and reads what comes back. The receive time-out only
// keeps a broken service from hanging the test.
class RawClient {
public:
    explicit RawClient(uint16_t port) : m_socket(Poco::Net::SocketAddress("127.0.0.1", port))
    {
        m_socket.setReceiveTimeout(Poco::Timespan(10, 0));
    }
    explicit RawClient(Poco::Net::StreamSocket socket) : m_socket(std::move(socket))
    {
        m_socket.setReceiveTimeout(Poco::Timespan(10, 0));
    }

    void send(const std::string& bytes) { m_socket.sendBytes(bytes.data(), static_cast<int>(bytes.size())); }

    // Sends zeros until a send waits longer than `timeout` (true) or `limit` bytes went out
    // (false). A small send buffer makes the stall show after a few round trips.
    bool sendUntilStalled(uint64_t limit, Poco::Timespan timeout)
    {
        m_socket.setSendBufferSize(16 * 1024);
        m_socket.setSendTimeout(timeout);
        const std::string block(64 * 1024, '\0');
        for (uint64_t sent = 0; sent < limit;) {
            try {
                sent += static_cast<uint64_t>(m_socket.sendBytes(block.data(), static_cast<int>(block.size())));
            } catch (const Poco::TimeoutException&) {
                return true;
            } catch (const Poco::IOException& error) {
                // Poco reports a blocking send that hit SO_SNDTIMEO as the raw EAGAIN.
                if (error.code() != EAGAIN)
                    throw;
                return true;
            }
        }
        return false;
    }

    // Until the service closes (a reset counts: closing with unread request bytes sends one);
    // `reads` counts the receive calls that returned bytes.
    std::string readToEnd(int* reads = nullptr)
    {
        std::string data;
        char buffer[4096];
        try {
            while (int got = m_socket.receiveBytes(buffer, sizeof buffer)) {
                data.append(buffer, static_cast<size_t>(got));
                if (reads)
                    ++*reads;
            }
        } catch (const Poco::Net::ConnectionResetException&) {
        }
        return data;
    }

    std::string readHead()
    {
        std::string data;
        char c = 0;
        while (data.size() < 4 || data.compare(data.size() - 4, 4, "\r\n\r\n") != 0) {
            if (m_socket.receiveBytes(&c, 1) != 1)
                break;
            data += c;
        }
        return data;
    }

    std::string readExactly(size_t count)
    {
        std::string data(count, '\0');
        size_t done = 0;
        while (done < count) {
            const int got = m_socket.receiveBytes(&data[done], static_cast<int>(count - done));
            if (got <= 0)
                break;
            done += static_cast<size_t>(got);
        }
        data.resize(done);
        return data;
    }

    // True when neither a byte nor the end of the connection arrives within `wait`.
    bool silentFor(Poco::Timespan wait) { return !m_socket.poll(wait, Poco::Net::Socket::SELECT_READ); }

private:
    Poco::Net::StreamSocket m_socket;
};

std::string responseBody(const std::string& response)
{
    const size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

TestServiceOptions unsignedStorage()
{
    TestServiceOptions options;
    options.requireSignedStorage = false;
    return options;
}

} // namespace

TEST(TestServiceStorage, PutAnswersContinueThenStoresAndReturnsQuotedMd5)
{
    TestService service;
    RawClient client(service.httpPort());
    const std::string path =
        service.signedStorageUrl("part-1", std::chrono::seconds(60)).substr(service.baseUrl().size());
    client.send("PUT " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(kContent.size()) +
                "\r\nExpect: 100-continue\r\n\r\n");
    EXPECT_EQ(client.readHead(), "HTTP/1.1 100 Continue\r\n\r\n");
    client.send(kContent);
    const std::string head = client.readHead();
    EXPECT_EQ(head.substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_NE(head.find("\r\nETag: \"" + md5Hex(kContent) + "\"\r\n"), std::string::npos) << head;
    EXPECT_EQ(service.model().objects().contents("part-1"), kContent);
    EXPECT_EQ(service.log().all().at(0).body, kContent);
}

TEST(TestServiceStorage, EmptyPutIsAnsweredAtOnceWithoutContinue)
{
    TestService service(unsignedStorage());
    RawClient client(service.httpPort());
    client.send("PUT /storage/empty HTTP/1.1\r\nContent-Length: 0\r\nExpect: 100-continue\r\n\r\n");
    const std::string head = client.readHead();
    EXPECT_EQ(head.substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_NE(head.find("ETag: \"" + md5Hex("") + "\""), std::string::npos);
    EXPECT_EQ(service.model().objects().contents("empty"), "");
}

TEST(TestServiceStorage, GetServesWholeObjectsAndRanges)
{
    struct Case {
        std::string range;
        int status;
        std::string contentRange;
        std::string body;
    };
    const std::vector<Case> cases = {
        {"", 200, "", kContent},
        {"bytes=0-4", 206, "bytes 0-4/20", "hello"},
        {"bytes=6-", 206, "bytes 6-19/20", kContent.substr(6)},
        {"bytes=-7", 206, "bytes 13-19/20", "stored!"},
        {"bytes=15-999", 206, "bytes 15-19/20", "ored!"},
        {"bytes=20-", 416, "bytes */20", "range not satisfiable"},
    };
    TestService service(unsignedStorage());
    service.model().objects().put("obj", kContent);
    for (const Case& c : cases) {
        std::vector<std::pair<std::string, std::string>> headers;
        if (!c.range.empty())
            headers.emplace_back("Range", c.range);
        const HttpReply reply = httpExchange("GET", service.url("/storage/obj"), "", headers);
        EXPECT_EQ(reply.status, c.status) << c.range;
        EXPECT_EQ(reply.head.get("Content-Range", ""), c.contentRange) << c.range;
        EXPECT_EQ(reply.body, c.body) << c.range;
    }
    EXPECT_EQ(httpExchange("GET", service.url("/storage/missing")).status, 404);
}

TEST(TestServiceStorage, SignedUrlsAreRefusedWhenExpiredWrongOrMissing)
{
    TestService service;
    service.model().objects().put("obj", kContent);
    const std::string valid = service.signedStorageUrl("obj", std::chrono::seconds(60));
    std::string tampered = valid;
    tampered.back() = tampered.back() == '0' ? '1' : '0';
    EXPECT_EQ(httpExchange("GET", valid).body, kContent);
    for (const std::string& url :
         {service.expiredStorageUrl("obj"), tampered, service.url("/storage/obj"),
          service.url("/storage/obj?" + service.signer().signQuery("/storage/other", UrlSigner::now() + 60))}) {
        EXPECT_EQ(httpExchange("GET", url).status, 403) << url;
    }
    // A PUT to an expired URL is refused before the client sends its body.
    RawClient client(service.httpPort());
    client.send("PUT " + service.expiredStorageUrl("obj").substr(service.baseUrl().size()) +
                " HTTP/1.1\r\nContent-Length: 5\r\nExpect: 100-continue\r\n\r\n");
    const std::string response = client.readToEnd();
    EXPECT_EQ(response.substr(0, 12), "HTTP/1.1 403") << response;
    EXPECT_EQ(service.model().objects().contents("obj"), kContent);
}

TEST(TestServiceStorage, RedirectAnswers302WithTheTarget)
{
    TestService service(unsignedStorage());
    service.model().objects().put("obj", kContent);
    const std::string target = service.signedStorageUrl("obj", std::chrono::seconds(60));
    const HttpReply reply = httpExchange("GET", service.redirectUrl(target));
    EXPECT_EQ(reply.status, 302);
    EXPECT_EQ(reply.head.get("Location"), target);
}

TEST(TestServiceStorage, HttpsIsVerifiedWithTheTestCa)
{
    TestServiceOptions options;
    options.http = false;
    options.https = true;
    TestService service(options);
    Poco::Net::Context::Ptr context = new Poco::Net::Context(
        Poco::Net::Context::TLS_CLIENT_USE, "", "", TestCa::instance().caFile(), Poco::Net::Context::VERIFY_STRICT);
    Poco::Net::HTTPSClientSession session("127.0.0.1", service.httpsPort(), context);
    session.setKeepAlive(true);
    const std::string path =
        service.signedStorageUrl("tls", std::chrono::seconds(60), true).substr(service.secureBaseUrl().size());
    const HttpReply put = httpExchange(session, "PUT", path, kContent);
    EXPECT_EQ(put.head.get("ETag"), "\"" + md5Hex(kContent) + "\"");
    EXPECT_EQ(httpExchange(session, "GET", path, "", {{"Range", "bytes=0-4"}}).body, "hello");
    EXPECT_TRUE(service.log().all().at(0).secure);
    EXPECT_EQ(service.log().connectionCount("/storage/tls"), 1u); // keep-alive
}

TEST(TestServiceStorage, DataDirectoryHoldsObjectsAsFiles)
{
    TempDir folder;
    TestServiceOptions options = unsignedStorage();
    options.dataDirectory = folder.path();
    TestService service(options);
    writeFile(folder.file("placed.bin"), "placed beforehand");
    Poco::Net::HTTPClientSession session("127.0.0.1", service.httpPort());
    EXPECT_EQ(httpExchange(session, "PUT", "/storage/big", kContent).head.get("ETag"), "\"" + md5Hex(kContent) + "\"");
    EXPECT_EQ(readFile(folder.file("big")), kContent);
    EXPECT_EQ(httpExchange(session, "GET", "/storage/big", "", {{"Range", "bytes=6-10"}}).body, "world");
    const HttpReply placed = httpExchange(session, "GET", "/storage/placed.bin");
    EXPECT_EQ(placed.body, "placed beforehand");
}

TEST(TestServiceRoutes, DispatchByMethodAndPatternLaterRoutesWin)
{
    TestService service;
    service.routes().add(
        "GET", "/api/v2/bucket/{bucketId}/file/{fileId}", [](ServiceRequest& request, ServiceResponse& response) {
            response.setBody(
                200, request.param("bucketId") + "|" + request.param("fileId") + "|" + request.queryParam("token"),
                "text/plain");
        });
    service.routes().add("GET", "/api/v2/bucket/b1/file/{fileId}", [](ServiceRequest&, ServiceResponse& response) {
        response.setBody(200, "override", "text/plain");
    });
    service.routes().add("GET", "/boom", [](ServiceRequest&, ServiceResponse&) { throw std::runtime_error("bad"); });
    EXPECT_EQ(httpExchange("GET", service.url("/api/v2/bucket/b%2F2/file/f9?token=a%20b")).body, "b%2F2|f9|a b");
    EXPECT_EQ(httpExchange("GET", service.url("/api/v2/bucket/b1/file/f9")).body, "override");
    EXPECT_EQ(httpExchange("GET", service.url("/api/v2/bucket/b1/file")).status, 404);
    Poco::Net::HTTPClientSession session("127.0.0.1", service.httpPort());
    EXPECT_EQ(httpExchange(session, "DELETE", "/api/v2/bucket/b1/file/f9").status, 405);
    EXPECT_EQ(httpExchange("GET", service.url("/boom")).status, 500);
}

TEST(TestServiceLog, RecordsRawTargetHeaderOrderBodyAndConnectionsPerPath)
{
    TestService service;
    service.routes().add("POST", "/echo", [](ServiceRequest& request, ServiceResponse& response) {
        response.setBody(200, request.readWholeBody(), "application/json");
    });
    const std::string head = "POST /echo?id=a b%zz&x HTTP/1.1\r\nZ-Last: 1\r\nContent-Length: 3\r\n"
                             "x-fv-auth-token: t\r\nA-First:  padded \r\nHost: 127.0.0.1\r\n\r\n";
    RawClient first(service.httpPort());
    first.send(head + "abc");
    first.readHead();
    EXPECT_EQ(first.readExactly(3), "abc");
    first.send(head + "def");
    first.readHead();
    EXPECT_EQ(first.readExactly(3), "def");
    RawClient second(service.httpPort());
    second.send(head + "ghi");
    second.readHead();

    ASSERT_TRUE(service.log().waitForRequests(3, std::chrono::seconds(10)));
    const std::vector<LoggedRequest> requests = service.log().forPath("/echo");
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/echo?id=a b%zz&x");
    const std::vector<HttpHeaders::Field> expected = {{"Z-Last", "1"},
                                                      {"Content-Length", "3"},
                                                      {"x-fv-auth-token", "t"},
                                                      {"A-First", "padded"},
                                                      {"Host", "127.0.0.1"}};
    EXPECT_EQ(requests[0].headers.fields(), expected);
    EXPECT_EQ(requests[1].body, "def");
    EXPECT_EQ(requests[0].connectionId, requests[1].connectionId);
    EXPECT_EQ(service.log().connectionCount("/echo"), 2u);
    EXPECT_EQ(service.log().connectionsAccepted(), 2u);
}

TEST(TestServiceLog, InFlightGaugeKeepsTheMostOpenRequestsPerPrefix)
{
    TestService service(unsignedStorage());
    const std::string big = patternedBytes(1024 * 1024);
    service.model().objects().put("big", big);
    service.routes().add("GET", "/slow/*", [&service](ServiceRequest&, ServiceResponse& response) {
        // Answers once three requests came in, so the first three overlap however they are scheduled.
        service.log().waitForRequests(3, std::chrono::seconds(10));
        response.setBody(200, "done", "text/plain");
    });
    std::vector<int> statuses(3, 0);
    std::vector<std::thread> clients;
    for (int i = 0; i < 3; ++i)
        clients.emplace_back(
            [&, i] { statuses[i] = httpExchange("GET", service.url("/slow/" + std::to_string(i))).status; });
    for (std::thread& client : clients)
        client.join();
    EXPECT_EQ(std::vector<int>(3, 200), statuses);
    EXPECT_EQ(200, httpExchange("GET", service.url("/slow/alone")).status);

    // One request after the other on one connection: the next begins only once the client has the
    // whole answer, so a request must count as ended before that.
    Poco::Net::HTTPClientSession session("127.0.0.1", service.httpPort());
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(big, httpExchange(session, "GET", "/storage/big").body);
    EXPECT_EQ(404, httpExchange(session, "GET", "/storage/missing").status);

    const RequestLog& log = service.log();
    EXPECT_EQ(3u, log.maxInFlight("/slow/"));
    EXPECT_EQ(3u, log.maxInFlight("/slow/", "GET"));
    EXPECT_EQ(0u, log.maxInFlight("/slow/", "PUT"));
    EXPECT_EQ(1u, log.maxInFlight("/storage/"));
    EXPECT_EQ(3u, log.maxInFlight("/"));
    EXPECT_EQ(0u, log.maxInFlight("/other/"));
}

TEST(TestServiceFaults, EachKindShapesTheAnswer)
{
    const std::string request = "GET /storage/obj HTTP/1.1\r\nConnection: close\r\n\r\n";
    struct Case {
        const char* name;
        Fault fault;
        std::function<void(const std::string& normal, const std::string& response, int reads)> check;
    };
    const std::vector<Case> cases = {
        {"status", Fault::statusCode(503, "<html>busy</html>", "text/html"),
         [](const std::string&, const std::string& r, int) {
             EXPECT_EQ(r.substr(0, 12), "HTTP/1.1 503");
             EXPECT_NE(r.find("Content-Type: text/html\r\n"), std::string::npos);
             EXPECT_EQ(responseBody(r), "<html>busy</html>");
         }},
        {"delay", Fault::delay(50), [](const std::string& normal, const std::string& r, int) { EXPECT_EQ(r, normal); }},
        {"close mid head", Fault::closeMidHead(10),
         [](const std::string& normal, const std::string& r, int) { EXPECT_EQ(r, normal.substr(0, 10)); }},
        {"close mid body", Fault::closeMidBody(4),
         [](const std::string& normal, const std::string& r, int) {
             EXPECT_EQ(r, normal.substr(0, normal.size() - kContent.size() + 4));
         }},
        {"trickle", Fault::trickle(16, 2),
         [](const std::string& normal, const std::string& r, int reads) {
             EXPECT_EQ(r, normal);
             EXPECT_GT(reads, 1);
         }},
        {"malformed head", Fault::malformedHead("HTTP/1.1 abc\r\nbroken\r\n\r\n"),
         [](const std::string&, const std::string& r, int) { EXPECT_EQ(r, "HTTP/1.1 abc\r\nbroken\r\n\r\n"); }},
        {"wrong etag", Fault::wrongEtag(),
         [](const std::string& normal, const std::string& r, int) {
             const std::string right = "ETag: \"" + md5Hex(kContent) + "\"\r\n";
             EXPECT_NE(normal.find(right), std::string::npos);
             EXPECT_EQ(r.find(right), std::string::npos);
             EXPECT_EQ(r.size(), normal.size());
             EXPECT_EQ(responseBody(r), kContent);
         }},
        {"chunked", Fault::chunked({3, 5}),
         [](const std::string&, const std::string& r, int) {
             EXPECT_NE(r.find("Transfer-Encoding: chunked\r\n"), std::string::npos);
             EXPECT_EQ(r.find("Content-Length"), std::string::npos);
             EXPECT_EQ(responseBody(r), "3\r\nhel\r\n5\r\nlo wo\r\n5\r\nrld, \r\n5\r\nstore\r\n2\r\nd!\r\n0\r\n\r\n");
         }},
        {"short chunked", Fault::shortChunked(7, {3, 5}),
         [](const std::string&, const std::string& r, int) {
             EXPECT_NE(r.find("Transfer-Encoding: chunked\r\n"), std::string::npos);
             EXPECT_EQ(responseBody(r), "3\r\nhel\r\n4\r\nlo w\r\n0\r\n\r\n");
         }},
        {"flipped body byte", Fault::flipBodyByte(1),
         [](const std::string& normal, const std::string& r, int) {
             std::string flipped = kContent;
             flipped[1] = static_cast<char>(~flipped[1]);
             EXPECT_EQ(r.size(), normal.size());
             EXPECT_EQ(responseBody(r), flipped);
         }},
        {"huge length", Fault::hugeLength(1099511627776ull),
         [](const std::string&, const std::string& r, int) {
             EXPECT_NE(r.find("Content-Length: 1099511627776\r\n"), std::string::npos);
             EXPECT_EQ(responseBody(r), kContent);
         }},
        {"mutate", Fault::mutateResponse([](ServiceResponse& response) { response.headers.add("X-Extra", "1"); }),
         [](const std::string&, const std::string& r, int) { EXPECT_NE(r.find("X-Extra: 1\r\n"), std::string::npos); }},
    };
    TestService service(unsignedStorage());
    service.model().objects().put("obj", kContent);
    RawClient plain(service.httpPort());
    plain.send(request);
    const std::string normal = plain.readToEnd();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service.faults().clear();
        service.faults().add(FaultRule{"GET", "/storage/*", 1, 1, c.fault});
        RawClient client(service.httpPort());
        client.send(request);
        int reads = 0;
        const std::string response = client.readToEnd(&reads);
        c.check(normal, response, reads);
    }
}

TEST(TestServiceFaults, StallMidBodySendsThePrefixThenHoldsTheConnectionUntilTheServiceStops)
{
    Watchdog watchdog("stall mid body");
    auto service = std::make_unique<TestService>(unsignedStorage());
    service->model().objects().put("obj", kContent);
    service->faults().add(FaultRule{"GET", "/storage/obj", 1, 0, Fault::stallMidBody(4)});

    RawClient leaving(service->httpPort());
    leaving.send("GET /storage/obj HTTP/1.1\r\n\r\n");
    EXPECT_NE(leaving.readHead().find("Content-Length: 20\r\n"), std::string::npos);
    EXPECT_EQ(leaving.readExactly(4), kContent.substr(0, 4));
    RawClient held(service->httpPort());
    held.send("GET /storage/obj HTTP/1.1\r\n\r\n");
    held.readHead();
    EXPECT_EQ(held.readExactly(4), kContent.substr(0, 4));
    // Neither closed nor answered further: a client sees a body that stopped mid-way.
    EXPECT_TRUE(held.silentFor(Poco::Timespan(0, 200 * 1000)));
    leaving = RawClient(service->httpPort()); // the first connection closes from the client's side

    service->stop(); // joins every connection thread, the held one included
    EXPECT_EQ(held.readToEnd(), "");
    service.reset();
}

TEST(TestServiceFaults, RulesCountTheirOwnRouteAndHitOnlyTheNthRequests)
{
    TestService service(unsignedStorage());
    service.model().objects().put("a", kContent);
    service.model().objects().put("b", kContent);
    service.faults().add(FaultRule{"GET", "/storage/a", 2, 2, Fault::statusCode(500)});
    service.faults().add(FaultRule{"PUT", "*", 1, 0, Fault::statusCode(507)});
    std::vector<int> statuses;
    for (const char* key : {"a", "b", "a", "b", "a", "a"})
        statuses.push_back(httpExchange("GET", service.url(std::string("/storage/") + key)).status);
    EXPECT_EQ(statuses, (std::vector<int>{200, 200, 500, 200, 500, 200}));
    Poco::Net::HTTPClientSession session("127.0.0.1", service.httpPort());
    EXPECT_EQ(httpExchange(session, "PUT", "/storage/c", "x").status, 507);
    EXPECT_EQ(httpExchange(session, "PUT", "/storage/c", "x").status, 507);
    EXPECT_FALSE(service.model().objects().contents("c"));
}

TEST(TestServiceFaults, HeaderConditionCountsOnlyTheRequestsThatCarryIt)
{
    TestService service(unsignedStorage());
    service.model().objects().put("obj", kContent);
    // Names compare without case; the nth is counted among the requests with the header only.
    service.faults().add(FaultRule{"GET", "/storage/*", 2, 1, Fault::statusCode(503)}.whenHeader("range", "bytes=16-"));
    service.faults().add(FaultRule{"", "*", 1, 0, Fault::statusCode(418)}.whenHeader("X-Probe", ""));
    const std::vector<std::vector<std::pair<std::string, std::string>>> requests = {
        {{"Range", "bytes=16-19"}}, {{"Range", "bytes=0-15"}}, {},
        {{"Range", "bytes=1-16"}},  {{"Range", "bytes=16-"}},  {{"Range", "bytes=16-19"}},
        {{"X-Probe", ""}},          {{"X-Probe", "1"}},
    };
    std::vector<int> statuses;
    for (const auto& headers : requests)
        statuses.push_back(httpExchange("GET", service.url("/storage/obj"), "", headers).status);
    EXPECT_EQ(statuses, (std::vector<int>{206, 206, 200, 206, 503, 206, 418, 418}));
}

TEST(TestServiceFaults, CloseMidRequestReadsExactlyThePrefixThenClosesUnanswered)
{
    struct Case {
        const char* name;
        size_t atByte;
        bool expectContinue;
        std::string bodyRead;
    };
    const std::vector<Case> cases = {
        {"nothing", 0, false, ""},
        {"seven bytes", 7, false, kContent.substr(0, 7)},
        {"half by default", Fault::kHalf, false, kContent.substr(0, 10)},
        {"past the end", 100, false, kContent},
        {"after 100 Continue", 7, true, kContent.substr(0, 7)},
        {"nothing after 100 Continue", 0, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestService service(unsignedStorage());
        service.faults().add(FaultRule{"PUT", "/storage/*", 1, 1, Fault::closeMidRequest(c.atByte)});
        RawClient client(service.httpPort());
        const std::string head = "PUT /storage/up HTTP/1.1\r\nContent-Length: 20\r\n";
        if (c.expectContinue) {
            client.send(head + "Expect: 100-continue\r\n\r\n");
            EXPECT_EQ(client.readHead(), "HTTP/1.1 100 Continue\r\n\r\n");
            client.send(kContent);
        } else {
            client.send(head + "\r\n" + kContent);
        }
        EXPECT_EQ(client.readToEnd(), "");
        const LoggedRequest logged = service.log().all().at(0);
        EXPECT_EQ(logged.body, c.bodyRead);
        EXPECT_EQ(logged.bodyBytes, c.bodyRead.size());
        EXPECT_FALSE(service.model().objects().contents("up"));
    }
}

TEST(TestServiceFaults, StalledRequestReaderTimesOutTheSenderAndEndsWithTheService)
{
    for (const bool expectContinue : {false, true}) {
        SCOPED_TRACE(expectContinue ? "with Expect" : "without Expect");
        auto service = std::make_unique<TestService>(unsignedStorage());
        service->faults().add(FaultRule{"PUT", "/storage/*", 1, 1, Fault::stallRequest(1000)});
        const uint64_t declared = uint64_t(1) << 30;
        RawClient client(service->httpPort());
        client.send("PUT /storage/big HTTP/1.1\r\nContent-Length: " + std::to_string(declared) + "\r\n" +
                    (expectContinue ? "Expect: 100-continue\r\n" : "") + "\r\n");
        if (expectContinue) {
            EXPECT_EQ(client.readHead(), "HTTP/1.1 100 Continue\r\n\r\n");
        }
        EXPECT_TRUE(client.sendUntilStalled(declared, Poco::Timespan(0, 200 * 1000)));
        ASSERT_TRUE(service->log().waitForBodyBytes("/storage/big", 1000, std::chrono::seconds(10)));

        service->stop(); // returns once the stalled reader's thread has been joined
        EXPECT_EQ(service->log().all().at(0).bodyBytes, 1000u);
        EXPECT_EQ(client.readToEnd(), "");
        EXPECT_FALSE(service->model().objects().contents("big"));
    }
}

TEST(TestServiceStorage, IgnoringExpectReadsTheBodyAndAnswersWithoutContinue)
{
    TestServiceOptions options = unsignedStorage();
    options.storageIgnoresExpect = true;
    TestService service(options);
    const std::string answer =
        "HTTP/1.1 200 OK\r\nETag: \"" + md5Hex(kContent) + "\"\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    for (const std::string expect : {"Expect: 100-continue\r\n", ""}) {
        SCOPED_TRACE(expect);
        RawClient client(service.httpPort());
        // The body comes after the head, as from a client whose wait for "100 Continue" ended;
        // a service that answers the expectation would put the interim head first.
        client.send("PUT /storage/up HTTP/1.1\r\nContent-Length: 20\r\nConnection: close\r\n" + expect + "\r\n");
        client.send(kContent);
        EXPECT_EQ(client.readToEnd(), answer);
        EXPECT_EQ(service.model().objects().contents("up"), kContent);
    }
}

TEST(TestService, StopEndsStalledTricklingIdleAndHandshakingConnections)
{
    TestServiceOptions options = unsignedStorage();
    options.https = true;
    auto service = std::make_unique<TestService>(options);
    service->model().objects().put("obj", kContent);
    service->faults().add(FaultRule{"GET", "/storage/obj", 1, 1, Fault::stall()});
    service->faults().add(FaultRule{"GET", "/storage/obj", 2, 1, Fault::trickle(1, 60000)});

    // One at a time, so that the rules meet the requests in this order.
    RawClient stalled(service->httpPort());
    stalled.send("GET /storage/obj HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(service->log().waitForRequests(1, std::chrono::seconds(10)));
    RawClient trickled(service->httpPort());
    trickled.send("GET /storage/obj HTTP/1.1\r\n\r\n");
    EXPECT_EQ(trickled.readExactly(1), "H");
    RawClient idle(service->httpPort());
    idle.send("GET /storage/obj HTTP/1.1\r\n\r\n");
    EXPECT_EQ(idle.readHead().substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_EQ(idle.readExactly(kContent.size()), kContent); // now idle, kept alive
    RawClient handshaking(service->httpsPort());            // TCP only: the TLS handshake never starts
    RawClient halfHead(service->httpPort());
    halfHead.send("GET /storage/obj HTTP/1.1\r\nHost");

    service->stop(); // returns only once every connection thread has been joined
    EXPECT_EQ(stalled.readToEnd(), "");
    EXPECT_EQ(handshaking.readToEnd(), "");
    EXPECT_EQ(halfHead.readToEnd(), "");
    EXPECT_EQ(idle.readToEnd(), "");
    EXPECT_LT(trickled.readToEnd().size(), 20u);
    service.reset();
}

// Pieces as large as the service's blocks are spaced as well: the body does not leave at once.
TEST(TestService, ATrickleOfWholeBlocksPausesBetweenThem)
{
    auto service = std::make_unique<TestService>(unsignedStorage());
    const std::string big(256 * 1024, 'x');
    service->model().objects().put("big", big);
    service->faults().add(FaultRule{"GET", "/storage/big", 1, 1, Fault::trickle(64 * 1024, 60000)});
    RawClient trickled(service->httpPort());
    trickled.send("GET /storage/big HTTP/1.1\r\n\r\n");
    EXPECT_EQ(trickled.readHead().substr(0, 15), "HTTP/1.1 200 OK");
    service->stop();
    // The first piece left with the head; the second waits.
    EXPECT_LE(trickled.readToEnd().size(), 64u * 1024);
    service.reset();
}

TEST(TestService, StandaloneProgramServesStorageAndTheTestPageUntilTerminated)
{
    TempDir folder;
    Poco::Pipe output;
    Poco::ProcessHandle process = Poco::Process::launch(
        FV_TESTSERVICE_PROGRAM, {"--port", "0", "--data-dir", folder.path()}, nullptr, &output, nullptr);
    Poco::PipeInputStream in(output);
    std::string line;
    std::getline(in, line);
    const std::string prefix = "base URL: http://127.0.0.1:";
    ASSERT_EQ(line.substr(0, prefix.size()), prefix);
    const auto port = static_cast<Poco::UInt16>(std::stoi(line.substr(prefix.size())));
    {
        Poco::Net::HTTPClientSession session("127.0.0.1", port);
        EXPECT_EQ(httpExchange(session, "PUT", "/storage/x", kContent).status, 200);
        EXPECT_EQ(httpExchange(session, "GET", "/storage/x").body, kContent);
        const HttpReply page = httpExchange(session, "GET", "/app?scenario=supportedMethods");
        EXPECT_EQ(page.status, 200);
        EXPECT_NE(page.body.find("_uploadManager_fileStateChanged"), std::string::npos);
    }
    Poco::Process::requestTermination(process.id());
    EXPECT_EQ(process.wait(), 0);
    EXPECT_EQ(readFile(folder.file("x")), kContent);
}
