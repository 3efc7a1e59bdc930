#include "support/fixtures/TestBytes.h"
#include "support/fixtures/Watchdog.h"
#include "support/net/HttpExchange.h"
#include "support/service/TestService.h"

#include <gtest/gtest.h>

#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/StreamSocket.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace fv_test;

namespace {

TestServiceOptions capped(uint64_t bytesPerSecond)
{
    TestServiceOptions options;
    options.requireSignedStorage = false;
    options.connectionRateBytesPerSecond = bytesPerSecond;
    return options;
}

} // namespace

// Several bursts' worth each way, on one kept-alive connection, also under a trickle fault.
TEST(TestServiceRateCap, CappedConnectionsMoveEveryByteExactly)
{
    Watchdog watchdog("capped transfers", std::chrono::seconds(60));
    TestService service(capped(2 * 1024 * 1024));
    const std::string content = patternedBytes(300 * 1024, 5);
    service.faults().add(FaultRule{"GET", "/storage/trickled", 1, 1, Fault::trickle(10000, 1)});
    Poco::Net::HTTPClientSession session("127.0.0.1", service.httpPort());
    session.setTimeout(Poco::Timespan(20, 0));
    session.setKeepAlive(true);

    const HttpReply upload = httpExchange(session, "PUT", "/storage/up", content);
    EXPECT_EQ(upload.status, 200);
    EXPECT_TRUE(service.model().objects().contents("up") == content);

    service.model().objects().put("trickled", content);
    struct Case {
        const char* path;
        std::string range;
        int status;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"/storage/up", "", 200, content},
        {"/storage/up", "bytes=70000-", 206, content.substr(70000)},
        {"/storage/trickled", "", 200, content},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + c.range);
        const HttpReply download =
            httpExchange(session, "GET", c.path, "", c.range.empty() ? HttpFields() : HttpFields{{"Range", c.range}});
        EXPECT_EQ(download.status, c.status);
        EXPECT_EQ(download.body.size(), c.expected.size());
        EXPECT_TRUE(download.body == c.expected);
    }
    EXPECT_EQ(service.log().connectionsAccepted(), 1u);
}

// A capped connection waits mostly between pieces; stopping ends those waits.
TEST(TestServiceRateCap, StoppingTheServiceEndsCappedTransfersMidway)
{
    const std::string content = patternedBytes(1024 * 1024, 6);
    for (const bool upload : {false, true}) {
        SCOPED_TRACE(upload ? "upload" : "download");
        Watchdog watchdog("stop with a capped connection", std::chrono::seconds(30));
        auto service = std::make_unique<TestService>(capped(4096));
        service->model().objects().put("obj", content);
        Poco::Net::StreamSocket client(Poco::Net::SocketAddress("127.0.0.1", service->httpPort()));
        client.setReceiveTimeout(Poco::Timespan(10, 0));
        client.setSendTimeout(Poco::Timespan(10, 0));
        std::thread sender;
        if (upload) {
            // The service reads slower than this thread sends: it blocks once the socket buffers fill.
            sender = std::thread([&client, &content] {
                const std::string head =
                    "PUT /storage/new HTTP/1.1\r\nContent-Length: " + std::to_string(content.size()) + "\r\n\r\n";
                try {
                    client.sendBytes(head.data(), static_cast<int>(head.size()));
                    client.sendBytes(content.data(), static_cast<int>(content.size()));
                } catch (const Poco::Exception&) {
                    // The service went away mid-body, as it should.
                }
            });
            EXPECT_TRUE(service->log().waitForBodyBytes("/storage/new", 64 * 1024, std::chrono::seconds(10)));
        } else {
            const std::string request = "GET /storage/obj HTTP/1.1\r\n\r\n";
            client.sendBytes(request.data(), static_cast<int>(request.size()));
            std::string received(64 * 1024, '\0');
            EXPECT_GT(client.receiveBytes(received.data(), static_cast<int>(received.size())), 0);
        }

        service->stop();
        if (sender.joinable())
            sender.join();
        if (upload) {
            EXPECT_FALSE(service->model().objects().find("new"));
        }
        service.reset();
    }
}
