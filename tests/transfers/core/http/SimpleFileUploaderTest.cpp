#include "core/http/FullHttpBodyRetriever.h"
#include "core/http/SimpleFileUploader.h"

#include "support/fixtures/TestBytes.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/TransportTest.h"
#include "support/net/ScriptedServer.h"

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace fv_transfers;
using fv_test::Script;
using fv_test::ScriptedServer;

namespace {

// Stops the server when the scope ends, so an upload it holds back returns.
struct StopAtExit {
    ScriptedServer& server;
    ~StopAtExit() { server.stop(); }
};

} // namespace

TEST(SimpleFileUploader, SendsExactlyTheFileAndReturnsTheAnswer)
{
    fv_test::prepareTransportTest();
    fv_test::TempDir dir;
    const std::string content = fv_test::patternedBytes(250001); // not a multiple of the block size
    fv_test::writeFile(dir.file("log.zip"), content);
    ScriptedServer server(
        {Script().readHead().readBody().write("HTTP/1.1 201 Created\r\nContent-Length: 14\r\n\r\n{\"token\":\"t1\"}")});

    CSimpleFileUploader uploader(server.url("/api/v2/uploads.json?filename=log.zip"), dir.file("log.zip"));
    IHttpResponseBodyFetcher* body = nullptr;
    ASSERT_EQ(dt_success, uploader.doUpload(body, {{"Content-Type", "application/binary"}}));
    ASSERT_NE(nullptr, body);
    std::string answer;
    EXPECT_EQ(dt_success, CFullHttpBodyRetriever(body).retrieve(answer));
    EXPECT_EQ("{\"token\":\"t1\"}", answer);

    const std::string head = server.head(0);
    EXPECT_EQ(0u, head.find("POST /api/v2/uploads.json?filename=log.zip HTTP/1.1\r\n"
                            "Content-Type: application/binary\r\nContent-Length: 250001\r\n"));
    EXPECT_EQ(head + content, server.received(0));
}

TEST(SimpleFileUploader, StatusOfThreeHundredOrMoreIsANetworkError)
{
    fv_test::prepareTransportTest();
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("f"), "abc");
    ScriptedServer server(
        {Script().readHead().readBody().write("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n")});
    CSimpleFileUploader uploader(server.url(), dir.file("f"));
    IHttpResponseBodyFetcher* body = nullptr;
    EXPECT_EQ(dt_network_error, uploader.doUpload(body, {}));
}

TEST(SimpleFileUploader, InterimAnswerIsNotTheAnswer)
{
    fv_test::prepareTransportTest();
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("f"), "abc");
    const std::vector<std::pair<std::string, dt_error>> cases = {
        {"500 Internal Server Error", dt_network_error},
        {"201 Created", dt_success},
    };
    for (const auto& c : cases) {
        ScriptedServer server({Script().readHead().readBody().write("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 " + c.first +
                                                                    "\r\nContent-Length: 0\r\n\r\n")});
        CSimpleFileUploader uploader(server.url(), dir.file("f"));
        IHttpResponseBodyFetcher* body = nullptr;
        EXPECT_EQ(c.second, uploader.doUpload(body, {})) << c.first;
    }
}

TEST(SimpleFileUploader, EarlyAnswerAndResetDuringTheBodyIsANetworkError)
{
    fv_test::prepareTransportTest();
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("big"), fv_test::patternedBytes(16 << 20));
    ScriptedServer::Options options;
    options.receiveBufferBytes = 4096; // the body cannot all be sent before the server closes
    ScriptedServer server(
        {Script().readHead().write("HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\n\r\n").reset()}, options);
    CSimpleFileUploader uploader(server.url(), dir.file("big"));
    IHttpResponseBodyFetcher* body = nullptr;
    EXPECT_EQ(dt_network_error, uploader.doUpload(body, {}));
    EXPECT_EQ(nullptr, body);
}

TEST(SimpleFileUploader, UnreadableFileFailsBeforeAnythingIsSent)
{
    fv_test::prepareTransportTest();
    fv_test::TempDir dir;
    ScriptedServer server({Script().readHead().readBody().write("HTTP/1.1 201 Created\r\nContent-Length: 0\r\n\r\n")});
    for (const std::string& path : {dir.file("missing"), dir.path()}) {
        CSimpleFileUploader uploader(server.url(), path);
        IHttpResponseBodyFetcher* body = nullptr;
        EXPECT_EQ(dt_local_file_error, uploader.doUpload(body, {})) << path;
        EXPECT_EQ(nullptr, body);
    }
    EXPECT_EQ(0, server.connectionCount());
}

TEST(SimpleFileUploader, FileThatShrinksDuringTheUploadIsAnError)
{
    fv_test::prepareTransportTest();
    fv_test::TempDir dir;
    const std::string path = dir.file("shrinking");
    fv_test::writeFile(path, fv_test::patternedBytes(48 << 20));
    ScriptedServer::Options options;
    options.receiveBufferBytes = 4096; // the upload cannot get far while the server holds back
    // The server holds back while the file is cut, then reads what still comes and, if the
    // uploader stopped short without failing, answers as if all was well.
    ScriptedServer server({Script().readHead().gate("cut").readBody().write("HTTP/1.1 201 Created\r\n\r\n")}, options);

    CSimpleFileUploader uploader(server.url(), path);
    auto upload = std::async(std::launch::async, [&uploader] {
        IHttpResponseBodyFetcher* body = nullptr;
        return uploader.doUpload(body, {});
    });
    // Declared after the upload so that it ends first: a failed assertion releases the upload.
    const StopAtExit stopAtExit{server};
    ASSERT_TRUE(server.waitAtGate("cut", 10000));
    ASSERT_EQ(0, ::truncate(path.c_str(), 1024));
    server.openGate("cut");
    EXPECT_EQ(dt_general_error, upload.get());
}
