#include "core/base/StringConversion.h"
#include "core/config/FvTransfersGlobalConfig.h"
#include "core/log/FvTransfersLogger.h"
#include "core/rest/Bucket.h"
#include "core/rest/RestApiLogin.h"

#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/TransportTest.h"
#include "support/net/TestCa.h"
#include "support/service/RestFaults.h"
#include "support/service/RestRoutes.h"
#include "support/service/TestService.h"

#include <gtest/gtest.h>

#include <json/json.h>

#include <Poco/DateTime.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/DateTimeParser.h>
#include <Poco/File.h>
#include <Poco/Timestamp.h>
#include <Poco/URI.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <string>
#include <vector>

using namespace fv_transfers;
using fv_test::RestRoutes;
using fv_test::TestService;
namespace rest_faults = fv_test::rest_faults;

namespace {

const char* const kUser = "ann@example.org";
const char* const kPassword = "Hunter2-correct-horse";

std::wstring fileUrl(const std::string& path)
{
    std::string encoded;
    Poco::URI::encode(path, "#?%", encoded);
    return utf8ToWide("file://" + encoded);
}

const char* const kIsoFormat = "%Y-%m-%dT%H:%M:%S.%iZ";

std::string isoTime(const Poco::Timestamp& time)
{
    return Poco::DateTimeFormatter::format(time, kIsoFormat);
}

bool isIsoTime(const std::string& text)
{
    Poco::DateTime parsed;
    int zone = 0;
    return Poco::DateTimeParser::tryParse(kIsoFormat, text, parsed, zone) &&
           Poco::DateTimeFormatter::format(parsed, kIsoFormat) == text;
}

struct BucketClient : ::testing::Test {
    fv_test::TempDir appFiles;
    fv_test::TempDir input;
    TestService service;
    RestRoutes routes{service};

    void SetUp() override
    {
        fv_test::prepareTransportTest();
        CFvTransfersGlobalConfig::getInstance()->setAppFilesPath(utf8ToWide(appFiles.path()));
        CFvTransfersLogger::destroyInstance();
        CFvTransfersGlobalConfig::getInstance()->setRestEndPointUrl(service.baseUrl());
        routes.addUser(kUser, kPassword);
    }

    std::string inputFile(const std::string& name, const std::string& content)
    {
        const std::string path = input.file(name);
        fv_test::writeFile(path, content);
        return path;
    }

    std::vector<fv_test::LoggedRequest> requestsEndingWith(const std::string& suffix)
    {
        std::vector<fv_test::LoggedRequest> found;
        for (const fv_test::LoggedRequest& request : service.log().all()) {
            if (request.path.size() >= suffix.size() &&
                request.path.compare(request.path.size() - suffix.size(), suffix.size(), suffix) == 0)
                found.push_back(request);
        }
        return found;
    }
};

} // namespace

TEST_F(BucketClient, LogsInMakesABucketAndRegistersAFile)
{
    const std::string path = inputFile("Résumé 1.txt", "hello");
    const Poco::Timestamp modified(Poco::Timestamp::TimeVal(1614834367089) * 1000);
    const timespec times[2] = {{1614834367, 89000000}, {1614834367, 89000000}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, path.c_str(), times, 0));
    const std::string writtenAfter = isoTime(Poco::Timestamp() - 2 * Poco::Timestamp::resolution());

    CBucket bucket({kUser, kPassword}, "");
    const CBucket::bucketDesc desc = bucket.init();
    ASSERT_FALSE(desc.bucketId.empty());
    EXPECT_EQ(routes.bucket(desc.bucketId).token, desc.bucketToken);
    EXPECT_GT(desc.bucketTokenExpires, 0u);
    EXPECT_FALSE(desc.loginToken.empty());
    EXPECT_GT(desc.loginTokenExpires, 0u);

    const UploadFileDesc file = bucket.addFile(fileUrl(path));
    ASSERT_FALSE(file.fileUid.empty());
    EXPECT_EQ(fileUrl(path), file.fileUrl);
    EXPECT_EQ(desc.bucketId, routes.file(file.fileUid).bucketId);
    EXPECT_EQ("Résumé 1.txt", routes.file(file.fileUid).name);
    EXPECT_EQ(5u, routes.file(file.fileUid).size);

    const auto login = service.log().forPath("/login");
    ASSERT_EQ(1u, login.size());
    EXPECT_FALSE(login[0].headers.has("x-fv-auth-token"));
    EXPECT_EQ(std::string("{\"password\":\"") + kPassword + "\",\"userId\":\"" + kUser + "\"}\n", login[0].body);

    const auto message = service.log().forPath("/api/v2/bucket/message");
    ASSERT_EQ(1u, message.size());
    EXPECT_EQ(desc.loginToken, message[0].headers.get("x-fv-auth-token"));
    EXPECT_EQ("{\"body\":null,\"cloneFiles\":[],\"files\":[],\"password\":null,\"previewsEnabled\":true,"
              "\"recipients\":[],\"summary\":\"Test\",\"type\":\"message\",\"uploader\":\"DESKTOP\","
              "\"viewMode\":null}\n",
              message[0].body);

    const auto added = service.log().forPath("/api/v2/bucket/" + desc.bucketId + "/files");
    ASSERT_EQ(1u, added.size());
    EXPECT_EQ(desc.loginToken, added[0].headers.get("x-fv-auth-token"));
    // The file's own times, not a fixed date: "modified" as set above, "created" the birth
    // time where the file system keeps one (this test wrote the file) or else "modified".
    Json::Value sent;
    ASSERT_TRUE(Json::Reader().parse(added[0].body, sent)) << added[0].body;
    const std::string created = sent["files"][0]["created"].asString();
    EXPECT_EQ("{\"bucketId\":\"" + desc.bucketId + "\",\"cloneFiles\":[],\"files\":[{\"created\":\"" + created +
                  "\",\"modified\":\"2021-03-04T05:06:07.089Z\",\"name\":\"R\\u00e9sum\\u00e9 1.txt\","
                  "\"path\":null,\"size\":5}],\"token\":\"" +
                  desc.bucketToken + "\",\"uploader\":\"DESKTOP\"}\n",
              added[0].body);
    EXPECT_TRUE(created == isoTime(modified) || (isIsoTime(created) && created >= writtenAfter)) << created;
}

TEST_F(BucketClient, TheCallersSummaryNamesTheBucket)
{
    CBucket bucket({kUser, kPassword}, "Quarterly figures");
    ASSERT_FALSE(bucket.init().bucketId.empty());
    const auto message = service.log().forPath("/api/v2/bucket/message");
    ASSERT_EQ(1u, message.size());
    EXPECT_NE(std::string::npos, message[0].body.find("\"summary\":\"Quarterly figures\""));
}

TEST_F(BucketClient, WrongCredentialsGiveAClientErrorAndNoBucket)
{
    CBucket bucket({kUser, "wrong"}, "");
    EXPECT_EQ(dt_rest_client_error, bucket.login());
    const CBucket::bucketDesc desc = bucket.init();
    EXPECT_EQ("", desc.bucketId);
    EXPECT_EQ("", desc.bucketToken);
    EXPECT_EQ(0u, desc.bucketTokenExpires);
    EXPECT_EQ("", desc.loginToken);
    EXPECT_EQ(0u, desc.loginTokenExpires);
    EXPECT_TRUE(service.log().forPath("/api/v2/bucket/message").empty());
}

TEST_F(BucketClient, BadAnswersGiveTheirCodesAndEmptyResults)
{
    struct Case {
        const char* name;
        const char* path;
        fv_test::Fault fault;
        dt_error login;
        bool bucketMade;
        bool fileAdded;
    };
    const std::string files = "/api/v2/bucket/{bucketId}/files";
    const std::vector<Case> cases = {
        {"login without token", "/login", rest_faults::removeMember("token"), dt_general_error, false, false},
        {"login token null", "/login", rest_faults::setMember("token", Json::Value()), dt_general_error, false, false},
        {"login token a number", "/login", rest_faults::setMember("token", 7), dt_general_error, false, false},
        {"login answer cut short", "/login", rest_faults::malformedJson(), dt_general_error, false, false},
        {"login 500", "/login", rest_faults::htmlError(500), dt_general_error, false, false},
        {"login 403", "/login", rest_faults::htmlError(403), dt_rest_client_error, false, false},
        {"bucket without id", "/api/v2/bucket/message", rest_faults::removeMember("bucketId"), dt_success, false,
         false},
        {"bucket without token", "/api/v2/bucket/message", rest_faults::removeMember("token"), dt_success, false,
         false},
        {"bucket 500", "/api/v2/bucket/message", rest_faults::htmlError(500), dt_success, false, false},
        {"bucket answer not JSON", "/api/v2/bucket/message", rest_faults::malformedJson(), dt_success, false, false},
        {"files absent", files.c_str(), rest_faults::removeMember("files"), dt_success, true, false},
        {"files a string", files.c_str(), rest_faults::setMember("files", "x"), dt_success, true, false},
        {"file entry a string", files.c_str(), rest_faults::setMember("files.0.file", "x"), dt_success, true, false},
        {"file id a number", files.c_str(), rest_faults::setMember("files.0.file.id", 3), dt_success, true, false},
        {"files 401", files.c_str(), rest_faults::htmlError(401), dt_success, true, false},
    };
    const std::string path = inputFile("a.txt", "abc");
    for (const Case& c : cases) {
        service.faults().clear();
        service.faults().add({"POST", c.path, 1, 0, c.fault});
        CBucket bucket({kUser, kPassword}, "");
        EXPECT_EQ(c.login, bucket.login()) << c.name;
        EXPECT_EQ(c.bucketMade, !bucket.init().bucketId.empty()) << c.name;
        const UploadFileDesc file = bucket.addFile(fileUrl(path));
        EXPECT_EQ(c.fileAdded, !file.fileUid.empty()) << c.name;
        EXPECT_EQ(c.fileAdded, !file.fileUrl.empty()) << c.name;
    }
}

TEST_F(BucketClient, AbsentExpiriesAreZero)
{
    service.faults().add({"POST", "/login", 1, 0, rest_faults::removeMember("tokenExpires")});
    service.faults().add({"POST", "/api/v2/bucket/message", 1, 0, rest_faults::removeMember("tokenExpires")});
    CBucket bucket({kUser, kPassword}, "");
    const CBucket::bucketDesc desc = bucket.init();
    EXPECT_FALSE(desc.bucketId.empty());
    EXPECT_EQ(0u, desc.loginTokenExpires);
    EXPECT_EQ(0u, desc.bucketTokenExpires);
}

TEST_F(BucketClient, FilesThatCannotBeReadAreNotSent)
{
    Poco::File(input.file("folder")).createDirectories();
    const std::string readable = inputFile("a.txt", "abc");

    CBucket early({kUser, kPassword}, "");
    EXPECT_TRUE(early.addFile(fileUrl(readable)).fileUid.empty()) << "before init";

    CBucket bucket({kUser, kPassword}, "");
    ASSERT_FALSE(bucket.init().bucketId.empty());
    for (const std::wstring& url : {fileUrl(input.file("missing.txt")), fileUrl(input.file("folder")),
                                    utf8ToWide("http://127.0.0.1/a.txt"), std::wstring(L"not a url"), std::wstring()}) {
        const UploadFileDesc file = bucket.addFile(url);
        EXPECT_TRUE(file.fileUid.empty()) << wideToUtf8(url);
        EXPECT_TRUE(file.fileUrl.empty()) << wideToUtf8(url);
    }
    EXPECT_TRUE(requestsEndingWith("/files").empty());
}

TEST_F(BucketClient, NoSecretReachesTheLogEvenAtTrace)
{
    CFvTransfersGlobalConfig::getInstance()->setVerboseLogging(true);
    CBucket bucket({kUser, kPassword}, "");
    const CBucket::bucketDesc desc = bucket.init();
    ASSERT_FALSE(desc.bucketId.empty());
    ASSERT_FALSE(bucket.addFile(fileUrl(inputFile("a.txt", "abc"))).fileUid.empty());
    CFvTransfersLogger::destroyInstance();

    const std::string log = fv_test::readFile(appFiles.file("fv_transfers.log"));
    EXPECT_NE(std::string::npos, log.find("/api/v2/bucket/message")) << "the exchanges were not logged";
    EXPECT_NE(std::string::npos, log.find("[Trace]"));
    for (const std::string& secret : {std::string(kPassword), desc.loginToken, desc.bucketToken}) {
        EXPECT_EQ(std::string::npos, log.find(secret)) << secret;
    }
    EXPECT_NE(std::string::npos, log.find("signature=***"));
    for (size_t at = log.find("signature="); at != std::string::npos; at = log.find("signature=", at + 1))
        EXPECT_EQ("signature=***", log.substr(at, 13)) << "a signed URL's query";
}

TEST(BucketClientTls, WorksOverHttps)
{
    fv_test::prepareTransportTest();
    fv_test::TempDir input;
    fv_test::TestServiceOptions options;
    options.http = false;
    options.https = true;
    TestService service(options);
    RestRoutes routes(service);
    routes.addUser(kUser, kPassword);
    CFvTransfersGlobalConfig::getInstance()->setCaCertificatesFile(fv_test::TestCa::instance().caFile());
    CFvTransfersGlobalConfig::getInstance()->setRestEndPointUrl(service.secureBaseUrl());
    fv_test::writeFile(input.file("a.txt"), "abc");

    CBucket bucket({kUser, kPassword}, "");
    ASSERT_FALSE(bucket.init().bucketId.empty());
    const UploadFileDesc file = bucket.addFile(fileUrl(input.file("a.txt")));
    EXPECT_EQ(3u, routes.file(file.fileUid).size);
    for (const fv_test::LoggedRequest& request : service.log().all())
        EXPECT_TRUE(request.secure) << request.path;
}

TEST(RestApiLogin, ReadsTheTokenAndItsExpiry)
{
    fv_test::prepareTransportTest();
    TestService service;
    RestRoutes routes(service);
    routes.addUser("u", "p");
    CRestApiLogin call(service.baseUrl());
    ASSERT_EQ(dt_success, call.execute("u", "p"));
    LoginResult result;
    ASSERT_EQ(dt_success, call.getResult(result));
    EXPECT_EQ("login-token-1", result.token);
    EXPECT_GT(result.tokenExpires, 0u);
}
