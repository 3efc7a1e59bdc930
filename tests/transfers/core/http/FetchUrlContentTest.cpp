#include "core/config/FvTransfersGlobalConfig.h"
#include "core/http/FetchUrlContent.h"

#include "support/fixtures/TransportTest.h"
#include "support/net/ScriptedServer.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using namespace fv_transfers;
using fv_test::Script;
using fv_test::ScriptedServer;

TEST(FetchUrlContent, ReturnsTheBodyOfASuccessfulGet)
{
    fv_test::prepareTransportTest();
    const std::string manifest = "{\"parts\": [], \"eTag\": \"x\"}";
    ScriptedServer server({Script().readHead().write(
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(manifest.size()) + "\r\n\r\n" + manifest)});
    std::string content;
    EXPECT_EQ(dt_success, fetchUrlContent(server.url("/m/manifest.json?sig=abc"), content));
    EXPECT_EQ(manifest, content);
    EXPECT_EQ("GET /m/manifest.json?sig=abc HTTP/1.1\r\nConnection: Keep-Alive\r\nUser-Agent: " +
                  CFvTransfersGlobalConfig::getInstance()->getUserAgent() +
                  "\r\nHost: 127.0.0.1:" + std::to_string(server.port()) + "\r\n\r\n",
              server.head(0));
}

TEST(FetchUrlContent, StatusOfThreeHundredOrMoreIsAnError)
{
    fv_test::prepareTransportTest();
    const std::vector<std::pair<std::string, dt_error>> cases = {
        {"403 Forbidden", dt_rest_client_error},
        {"404 Not Found", dt_rest_client_error},
        {"500 Internal Server Error", dt_general_error},
        {"302 Found\r\nLocation: http://127.0.0.1:1/elsewhere", dt_general_error},
    };
    for (const auto& c : cases) {
        const std::string page = "<html>error</html>";
        ScriptedServer server({Script().readHead().write(
            "HTTP/1.1 " + c.first + "\r\nContent-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page)});
        std::string content;
        EXPECT_EQ(c.second, fetchUrlContent(server.url("/manifest"), content)) << c.first;
        EXPECT_EQ(std::string(), content) << c.first;
        EXPECT_EQ(1, server.connectionCount()) << c.first;
    }
}

TEST(FetchUrlContent, ConnectionFailuresPassThrough)
{
    fv_test::prepareTransportTest();
    ScriptedServer server({Script().readHead().close()});
    std::string content;
    EXPECT_EQ(dt_connection_closed, fetchUrlContent(server.url(), content));
    EXPECT_EQ(dt_general_error, fetchUrlContent("ftp://127.0.0.1/", content));
    EXPECT_EQ(dt_general_error, fetchUrlContent("not a url", content));
}

TEST(FetchUrlContent, InterimAnswersAreSkippedUpToABound)
{
    fv_test::prepareTransportTest();
    std::string flood;
    for (int i = 0; i < 8; ++i)
        flood += "HTTP/1.1 100 Continue\r\n\r\n";
    const std::vector<std::tuple<std::string, std::string, dt_error, std::string>> cases = {
        {"early hints", "HTTP/1.1 103 Early Hints\r\nLink: </a.css>; rel=preload\r\n\r\n", dt_success, "hello"},
        {"two continues", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 100 Continue\r\n\r\n", dt_success, "hello"},
        {"too many interim heads", flood, dt_general_error, ""},
        {"switching protocols", "HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\n", dt_general_error, ""},
    };
    for (const auto& c : cases) {
        ScriptedServer server(
            {Script().readHead().write(std::get<1>(c) + "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello")});
        std::string content;
        EXPECT_EQ(std::get<2>(c), fetchUrlContent(server.url("/manifest"), content)) << std::get<0>(c);
        EXPECT_EQ(std::get<3>(c), content) << std::get<0>(c);
    }
}
