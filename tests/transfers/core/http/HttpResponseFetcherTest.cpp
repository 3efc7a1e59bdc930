#include "core/base/FvTransfersException.h"
#include "core/http/CurlConnection.h"
#include "core/http/FullHttpBodyRetriever.h"
#include "core/http/HttpResponseBodyFetcherChunked.h"
#include "core/http/HttpResponseBodyFetcherRawContent.h"
#include "core/http/HttpResponseFetcher.h"

#include "support/fixtures/TransportTest.h"
#include "support/net/ScriptedServer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace fv_transfers;
using fv_test::Script;
using fv_test::ScriptedServer;

namespace {

struct Outcome {
    dt_error result;
    std::string body;
};

// One GET whose answer the server writes in the given pieces, read with the whole-body
// retriever.
Outcome fetchBody(const std::string& answer, const std::vector<std::size_t>& cuts, bool closeAfter = false)
{
    Script script;
    script.readHead().writeSplit(answer, cuts, 30);
    if (closeAfter)
        script.close();
    else
        script.stall();
    ScriptedServer server({script});
    CCurlConnection connection;
    connection.sendTimeoutMs = 1000;
    connection.receiveTimeoutMs = 1000;
    if (connection.connect(server.url(), false) != dt_success)
        return {dt_not_connected, ""};
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, "/");
    if (connection.sendRequest(request) != dt_success)
        return {dt_not_connected, ""};
    CHttpResponseFetcher fetcher(&connection);
    Poco::Net::HTTPResponse* response = nullptr;
    IHttpResponseBodyFetcher* body = nullptr;
    const dt_error head = fetcher.fetch(response, body);
    if (head != dt_success)
        return {head, ""};
    std::string out = "kept:";
    const dt_error result = CFullHttpBodyRetriever(body).retrieve(out);
    return {result, out};
}

std::vector<std::size_t> cutsAfter(const std::string& text, const std::vector<std::string>& markers)
{
    std::vector<std::size_t> cuts;
    for (const auto& marker : markers)
        cuts.push_back(text.find(marker) + marker.size());
    return cuts;
}

} // namespace

TEST(HttpResponseFetcher, ReadsBodiesOfEveryFramingTheServiceUses)
{
    fv_test::prepareTransportTest();
    const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    struct Case {
        std::string name;
        std::string answer;
        std::vector<std::string> cutAfter;
        bool closeAfter;
        dt_error result;
        std::string body;
    };
    const std::vector<Case> cases = {
        {"empty length", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", {}, false, dt_success, ""},
        {"length over several reads",
         "HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\nhello world!",
         {"\r\n\r\n", "hel", "lo wo"},
         false,
         dt_success,
         "hello world!"},
        {"one chunk of 5", chunked + "5\r\nhello\r\n0\r\n\r\n", {}, false, dt_success, "hello"},
        {"chunks split at their lines",
         chunked + "3\r\nabc\r\n4\r\ndefg\r\n0\r\n\r\n",
         {"\r\n\r\n", "3\r", "abc\r\n", "4\r\nde"},
         false,
         dt_success,
         "abcdefg"},
        {"one-digit size line", chunked + "a\r\n0123456789\r\n0\r\n\r\n", {"a\r"}, false, dt_success, "0123456789"},
        {"upper-case hex", chunked + "B\r\nhello world\r\n0\r\n\r\n", {}, false, dt_success, "hello world"},
        {"empty chunked body", chunked + "0\r\n\r\n", {}, false, dt_success, ""},
        {"trailer after the last chunk", chunked + "2\r\nhi\r\n0\r\nX-Trailer: 1\r\n\r\n", {}, false, dt_success, "hi"},
        {"size line over its buffer",
         chunked + std::string(30, '0') + "5\r\nhello\r\n0\r\n\r\n",
         {},
         false,
         dt_invalid_chunked_body,
         ""},
        {"bad hex", chunked + "zz\r\nhello\r\n0\r\n\r\n", {}, false, dt_invalid_chunked_body, ""},
        {"chunk extension", chunked + "5;name=v\r\nhello\r\n0\r\n\r\n", {}, false, dt_invalid_chunked_body, ""},
        {"size beyond 64 bits", chunked + "1FFFFFFFFFFFFFFFF\r\n", {}, false, dt_invalid_chunked_body, ""},
        {"chunk without its line end", chunked + "2\r\nhiXY0\r\n\r\n", {}, false, dt_invalid_chunked_body, ""},
        {"delimited by the close",
         "HTTP/1.1 200 OK\r\n\r\nuntil the end",
         {"\r\n\r\n"},
         true,
         dt_success,
         "until the end"},
        {"no body after 204", "HTTP/1.1 204 No Content\r\n\r\n", {}, false, dt_success, ""},
        {"close before the declared length",
         "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd",
         {},
         true,
         dt_connection_closed,
         ""},
        {"huge declared length",
         "HTTP/1.1 200 OK\r\nContent-Length: 1099511627776\r\n\r\ntiny",
         {},
         false,
         dt_general_error,
         ""},
        {"huge chunk", chunked + "10000000000\r\ntiny", {}, false, dt_general_error, ""},
    };
    for (const auto& c : cases) {
        const Outcome outcome = fetchBody(c.answer, cutsAfter(c.answer, c.cutAfter), c.closeAfter);
        EXPECT_EQ(c.result, outcome.result) << c.name;
        EXPECT_EQ("kept:" + c.body, outcome.body) << c.name;
    }
}

TEST(HttpResponseFetcher, BodyLimitIsEnforcedOnBytesThatArrive)
{
    fv_test::prepareTransportTest();
    ScriptedServer server({Script().readHead().write("HTTP/1.1 200 OK\r\n\r\n" + std::string(5000, 'x')).close()});
    CCurlConnection connection;
    connection.receiveTimeoutMs = 1000;
    ASSERT_EQ(dt_success, connection.connect(server.url(), false));
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, "/");
    ASSERT_EQ(dt_success, connection.sendRequest(request));
    CHttpResponseFetcher fetcher(&connection);
    Poco::Net::HTTPResponse* response = nullptr;
    IHttpResponseBodyFetcher* body = nullptr;
    ASSERT_EQ(dt_success, fetcher.fetch(response, body));
    std::string out;
    EXPECT_EQ(dt_general_error, CFullHttpBodyRetriever(body, 4096).retrieve(out));
    EXPECT_EQ(std::string(), out);
}

TEST(HttpResponseFetcher, LengthsBeyondFourGigabytesKeepAllTheirBits)
{
    const int64_t fiveGiB = 5LL << 30;
    std::vector<char> noExtra;
    CHttpResponseBodyFetcherRawContent raw(nullptr, &noExtra, fiveGiB);
    int64_t length = 0;
    int encoding = 0;
    ASSERT_EQ(dt_success, raw.getBodyInfo(length, encoding));
    EXPECT_EQ(fiveGiB, length);
    EXPECT_EQ(IHttpResponseBodyFetcher::Raw, encoding);

    const std::string sizeLine = "140000000\r\n";
    std::vector<char> extra(sizeLine.begin(), sizeLine.end());
    CHttpResponseBodyFetcherChunked chunked(nullptr, &extra);
    ASSERT_EQ(dt_success, chunked.getBodyInfo(length, encoding));
    EXPECT_EQ(fiveGiB, length);
    EXPECT_EQ(IHttpResponseBodyFetcher::Chunked, encoding);
    EXPECT_EQ(CHttpResponseBodyFetcherChunked::ChunkSizeRead, chunked.state());
}

TEST(HttpResponseFetcher, FinishedChunkedBodyNeverReadsTheConnection)
{
    const std::string bytes = "1\r\nx\r\n0\r\n\r\n";
    std::vector<char> extra(bytes.begin(), bytes.end());
    CHttpResponseBodyFetcherChunked chunked(nullptr, &extra); // no connection to read
    char buffer[16];
    std::size_t received = 0;
    ASSERT_EQ(dt_success, chunked.read(buffer, sizeof buffer, received));
    EXPECT_EQ(1u, received);
    EXPECT_EQ(dt_success, chunked.read(buffer, sizeof buffer, received));
    EXPECT_EQ(0u, received);
    EXPECT_EQ(CHttpResponseBodyFetcherChunked::LastChunk, chunked.state());
    EXPECT_EQ(dt_success, chunked.read(buffer, sizeof buffer, received));
    EXPECT_EQ(0u, received);
}

TEST(HttpResponseFetcher, RetrieverRefusesANullReader)
{
    try {
        CFullHttpBodyRetriever retriever(nullptr);
        FAIL() << "no exception";
    } catch (const CInvalidParamException& e) {
        EXPECT_STREQ("fv-transfers exception: Invalid argument in function: "
                     "fv_transfers::CFullHttpBodyRetriever::CFullHttpBodyRetriever, param: pFetcher",
                     e.what());
    }
}
