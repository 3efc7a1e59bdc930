#include "download/ManifestFileParser.h"
#include "support/fixtures/TestBytes.h"
#include "support/net/HttpExchange.h"
#include "support/service/RestFaults.h"
#include "support/service/RestRoutes.h"
#include "support/service/TestService.h"

#include <gtest/gtest.h>

#include <json/json.h>

#include <chrono>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace fv_test;

namespace {

struct Answer {
    int status = 0;
    Json::Value json;
    std::string body;
};

Json::Value parse(const std::string& text)
{
    Json::Value value;
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &value, &errors))
        return Json::Value();
    return value;
}

std::string write(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

// One request to an URL of the service (plain HTTP).
Answer send(const std::string& method, const std::string& url, const std::string& body = "",
            const HttpFields& headers = {})
{
    const HttpReply reply = httpExchange(method, url, body, headers);
    return Answer{reply.status, parse(reply.body), reply.body};
}

Json::Value fileCall(const std::string& bucketId, const std::string& fileId, const std::string& token)
{
    Json::Value body;
    body["bucketId"] = bucketId;
    body["fileId"] = fileId;
    body["token"] = token;
    return body;
}

// PUTs `content` to a URL handed out by the REST side, with the headers it gave.
int putTo(const Json::Value& details, const std::string& content)
{
    std::vector<std::pair<std::string, std::string>> headers;
    for (const std::string& name : details["headers"].getMemberNames())
        headers.emplace_back(name, details["headers"][name].asString());
    return send("PUT", details["url"].asString(), content, headers).status;
}

class RestRoutesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        rest.addBucket("B1", "T1");
        rest.addFile("B1", "F1", 10);
    }

    std::string fileUrl(const std::string& rest) const { return service.url("/api/v2/bucket/B1/file/F1" + rest); }

    // A single-part upload of F1's 10 bytes.
    Answer uploadDetailsOfF1() const
    {
        Json::Value body = fileCall("B1", "F1", "T1");
        body["size"] = 10;
        body["md5Digest"] = Json::Value();
        body["uploader"] = "DESKTOP";
        return send("POST", fileUrl("/upload"), write(body));
    }

    // A multipart upload of F1's 10 bytes in parts of 6 and 4.
    Answer initializeF1() const
    {
        Json::Value body = fileCall("B1", "F1", "T1");
        body["size"] = 10;
        body["md5Digest"] = Json::Value();
        body["uploadId"] = Json::Value();
        body["uploader"] = "DESKTOP";
        body["parts"] = parse(R"([{"number":1,"size":6,"md5Digest":null},{"number":2,"size":4,"md5Digest":null}])");
        return send("POST", fileUrl("/upload/multipart/initialize"), write(body));
    }

    // The body of a complete or abort of F1's upload.
    static std::string multipartCall(const std::string& uploadId)
    {
        Json::Value body = fileCall("B1", "F1", "T1");
        body["uploadId"] = uploadId;
        body["numberOfParts"] = 2;
        return write(body);
    }

    TestService service;
    RestRoutes rest{service};
};

} // namespace

TEST_F(RestRoutesTest, SinglePartUploadThroughSignedUrlIsDownloadable)
{
    const Answer details = uploadDetailsOfF1();
    ASSERT_EQ(200, details.status) << details.body;
    EXPECT_EQ("F1", details.json["file"]["id"].asString());
    EXPECT_EQ("B1", details.json["file"]["bucketId"].asString());
    ASSERT_EQ(200, putTo(details.json["put"], "0123456789"));
    EXPECT_EQ("F1", service.log().all().back().headers.get("x-fv-file-id"));

    const Answer download = send("GET", fileUrl("/download?action=DOWNLOAD&token=T1&redirect=false"));
    ASSERT_EQ(200, download.status) << download.body;
    EXPECT_EQ("781e5e245d69b566979b86e28d23f2c7", download.json["file"]["md5Digest"].asString());
    EXPECT_EQ("0123456789", send("GET", download.json["url"].asString()).body);
}

TEST_F(RestRoutesTest, MultipartUploadJoinsItsPartsOnComplete)
{
    const Answer initialized = initializeF1();
    ASSERT_EQ(200, initialized.status) << initialized.body;
    const std::string uploadId = initialized.json["uploadId"].asString();
    const Json::Value& parts = initialized.json["partUploadDetails"];
    ASSERT_EQ(2u, parts.size());

    const std::string completeBody = multipartCall(uploadId);
    ASSERT_EQ(200, putTo(parts[1], "6789"));
    EXPECT_EQ(400, send("POST", fileUrl("/upload/multipart/complete"), completeBody).status)
        << "a part is still missing";
    ASSERT_EQ(200, putTo(parts[0], "012345"));
    ASSERT_EQ(200, send("POST", fileUrl("/upload/multipart/complete"), completeBody).status);
    EXPECT_EQ("0123456789", service.model().objects().contents(RestRoutes::fileKey("B1", "F1")).value_or(""));
    EXPECT_EQ("COMPLETED", rest.file("F1").status);
    EXPECT_EQ(404, send("POST", fileUrl("/upload/multipart/abort"), completeBody).status)
        << "a completed upload is no longer open";
    EXPECT_TRUE(rest.abortedUploads().empty());
}

// A client whose complete lost its answer asks again; the service must not deny what it did.
TEST_F(RestRoutesTest, RepeatedCompleteAnswersAsTheFirstUnlessSetToNotFound)
{
    struct Case {
        const char* name;
        bool notFound;
        bool firstAnswerLost;
        int repeatedStatus;
    };
    const Case cases[] = {
        {"repeated", false, false, 200},
        {"repeated after a lost answer", false, true, 200},
        {"not found when repeated", true, false, 404},
        {"not found when repeated after a lost answer", true, true, 404},
    };
    const std::string completePath = "/api/v2/bucket/B1/file/F1/upload/multipart/complete";
    Json::Value fileObject;
    fileObject["file"]["id"] = "F1";
    fileObject["file"]["bucketId"] = "B1";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rest.addFile("B1", "F1", 10);
        rest.setRepeatedCompleteNotFound(c.notFound);
        service.faults().clear();
        const Answer initialized = initializeF1();
        ASSERT_EQ(200, initialized.status) << initialized.body;
        const Json::Value& parts = initialized.json["partUploadDetails"];
        ASSERT_EQ(200, putTo(parts[0], "012345"));
        ASSERT_EQ(200, putTo(parts[1], "6789"));
        const std::string body = multipartCall(initialized.json["uploadId"].asString());
        if (c.firstAnswerLost) {
            service.faults().add({"POST", completePath, 1, 1, Fault::closeMidHead(0)});
            EXPECT_ANY_THROW(send("POST", service.url(completePath), body));
        } else {
            const Answer first = send("POST", service.url(completePath), body);
            ASSERT_EQ(200, first.status) << first.body;
            EXPECT_EQ(fileObject, first.json);
        }
        EXPECT_EQ("COMPLETED", rest.file("F1").status);
        EXPECT_EQ("0123456789", service.model().objects().contents(RestRoutes::fileKey("B1", "F1")).value_or(""));

        const Answer repeated = send("POST", service.url(completePath), body);
        EXPECT_EQ(c.repeatedStatus, repeated.status) << repeated.body;
        if (c.repeatedStatus == 200)
            EXPECT_EQ(fileObject, repeated.json);
        else
            EXPECT_EQ("ferrovan.service.NotFoundException", repeated.json["type"].asString());
        EXPECT_EQ("0123456789", service.model().objects().contents(RestRoutes::fileKey("B1", "F1")).value_or(""));
    }
}

TEST_F(RestRoutesTest, AbortForgetsTheUploadAndItsPartsAndRecordsItsId)
{
    const Answer initialized = initializeF1();
    ASSERT_EQ(200, initialized.status) << initialized.body;
    const std::string uploadId = initialized.json["uploadId"].asString();
    ASSERT_EQ(200, putTo(initialized.json["partUploadDetails"][0], "012345"));
    EXPECT_TRUE(rest.abortedUploads().empty());

    const std::string body = multipartCall(uploadId);
    const Answer aborted = send("POST", fileUrl("/upload/multipart/abort"), body);
    ASSERT_EQ(200, aborted.status) << aborted.body;
    EXPECT_EQ("F1", aborted.json["file"]["id"].asString());
    EXPECT_EQ(std::set<std::string>{uploadId}, rest.abortedUploads());
    EXPECT_EQ(0u, rest.multipartSessions().count(uploadId));
    EXPECT_FALSE(service.model().objects().find(RestRoutes::partKey(uploadId, 1)));
    EXPECT_EQ(404, send("POST", fileUrl("/upload/multipart/abort"), body).status);
    EXPECT_EQ(404, send("POST", fileUrl("/upload/multipart/complete"), body).status);
    EXPECT_EQ(std::set<std::string>{uploadId}, rest.abortedUploads());
}

TEST_F(RestRoutesTest, StorageUploadsMustBringTheHeadersTheirDetailsPrescribed)
{
    const Answer details = uploadDetailsOfF1();
    ASSERT_EQ(200, details.status) << details.body;
    const Answer initialized = initializeF1();
    ASSERT_EQ(200, initialized.status) << initialized.body;
    const Json::Value& put = details.json["put"];
    const Json::Value& part = initialized.json["partUploadDetails"][1];
    EXPECT_EQ("F1", put["headers"]["x-fv-file-id"].asString());
    EXPECT_EQ("2", part["headers"]["x-fv-part-number"].asString());
    const std::string fileKey = RestRoutes::fileKey("B1", "F1");
    const std::string partKey = RestRoutes::partKey(initialized.json["uploadId"].asString(), 2);
    struct Case {
        const char* name;
        const Json::Value& target;
        std::string key;
        HttpFields headers;
        int status;
    };
    // Refusals first: a refused upload stores nothing.
    const Case cases[] = {
        {"file without its header", put, fileKey, {}, 400},
        {"file with another id", put, fileKey, {{"x-fv-file-id", "F2"}}, 400},
        {"file with a part's header", put, fileKey, {{"x-fv-part-number", "2"}}, 400},
        {"part without its header", part, partKey, {}, 400},
        {"part with another number", part, partKey, {{"x-fv-part-number", "1"}}, 400},
        {"file as prescribed, any case", put, fileKey, {{"X-FV-File-Id", "F1"}}, 200},
        {"part as prescribed", part, partKey, {{"x-fv-part-number", "2"}}, 200},
    };
    for (const Case& c : cases) {
        const Answer answer = send("PUT", c.target["url"].asString(), "6789", c.headers);
        EXPECT_EQ(c.status, answer.status) << c.name << ": " << answer.body;
        EXPECT_EQ(c.status == 200, service.model().objects().find(c.key) != nullptr) << c.name;
    }
}

TEST_F(RestRoutesTest, CancelledFileRefusesUploadDetailsAndInitialize)
{
    Json::Value cancel = fileCall("B1", "F1", "T1");
    cancel["status"] = "CANCELLED";
    cancel["progress"] = 0;
    ASSERT_EQ(200, send("POST", fileUrl("/status"), write(cancel)).status);
    for (const Answer& answer : {uploadDetailsOfF1(), initializeF1()}) {
        EXPECT_EQ(409, answer.status) << answer.body;
        EXPECT_EQ(RestRoutes::kFileStatusExceptionType, answer.json["type"].asString());
    }
}

TEST_F(RestRoutesTest, RefusesWrongTokensIdsAndBodies)
{
    rest.addFile("B1", "F2", 1, "COMPLETED");
    Json::Value status = fileCall("B1", "F1", "T1");
    status["status"] = "UPLOADING";
    status["progress"] = 5;
    Json::Value wrongToken = status;
    wrongToken["token"] = "T2";
    Json::Value otherId = status;
    otherId["fileId"] = "F9";
    Json::Value badStatus = status;
    badStatus["status"] = "RUNNING";
    Json::Value upload = fileCall("B1", "F2", "T1");
    upload["size"] = 1;
    upload["md5Digest"] = Json::Value();
    upload["uploader"] = "DESKTOP";
    struct Case {
        std::string method;
        std::string target;
        std::string body;
        int status;
    };
    const std::vector<Case> cases = {
        {"GET", "/api/v2/bucket/B1?token=T1&detail=false", "", 200},
        {"GET", "/api/v2/bucket/B1?token=T2&detail=false", "", 401},
        {"GET", "/api/v2/bucket/B9?token=T1&detail=false", "", 404},
        {"GET", "/api/v2/bucket/B1/file/F1/download?action=DOWNLOAD&token=T1", "", 404},
        {"POST", "/api/v2/bucket/B1/file/F1/status", write(status), 200},
        {"POST", "/api/v2/bucket/B1/file/F1/status", write(wrongToken), 401},
        {"POST", "/api/v2/bucket/B1/file/F1/status", write(otherId), 400},
        {"POST", "/api/v2/bucket/B1/file/F1/status", write(badStatus), 400},
        {"POST", "/api/v2/bucket/B1/file/F1/status", "{\"bucketId\":", 400},
        {"POST", "/api/v2/bucket/B1/file/F9/status", write(otherId), 404},
        {"POST", "/api/v2/bucket/B1/file/F2/upload", write(upload), 409},
    };
    for (const Case& c : cases) {
        const Answer answer = send(c.method, service.url(c.target), c.body);
        EXPECT_EQ(c.status, answer.status) << c.target << " " << c.body << " -> " << answer.body;
        if (c.status == 409) {
            EXPECT_EQ(RestRoutes::kFileStatusExceptionType, answer.json["type"].asString());
        }
    }
    EXPECT_EQ(5u, rest.file("F1").progress);
}

TEST_F(RestRoutesTest, BucketClientRoutesNeedTheLoginToken)
{
    rest.addUser("user@example.test", "pw");
    EXPECT_EQ(401, send("POST", service.url("/login"), R"({"password":"no","userId":"user@example.test"})").status);
    const Answer login = send("POST", service.url("/login"), R"({"password":"pw","userId":"user@example.test"})");
    ASSERT_EQ(200, login.status);
    const std::string token = login.json["token"].asString();
    ASSERT_FALSE(token.empty());
    EXPECT_GT(login.json["tokenExpires"].asUInt64(), 0u);

    const std::string message = R"({"body":null,"type":"message","uploader":"DESKTOP"})";
    EXPECT_EQ(401, send("POST", service.url("/api/v2/bucket/message"), message).status);
    const Answer bucket = send("POST", service.url("/api/v2/bucket/message"), message, {{"x-fv-auth-token", token}});
    ASSERT_EQ(200, bucket.status) << bucket.body;
    const std::string bucketId = bucket.json["bucketId"].asString();
    EXPECT_EQ("INITIALIZED", rest.bucket(bucketId).status);

    Json::Value files;
    files["bucketId"] = bucketId;
    files["token"] = bucket.json["token"];
    files["uploader"] = "DESKTOP";
    files["files"][0]["name"] = "a.txt";
    files["files"][0]["size"] = 3;
    const std::string filesUrl = service.url("/api/v2/bucket/" + bucketId + "/files");
    EXPECT_EQ(401, send("POST", filesUrl, write(files)).status);
    const Answer added = send("POST", filesUrl, write(files), {{"x-fv-auth-token", token}});
    ASSERT_EQ(200, added.status) << added.body;
    const std::string fileId = added.json["files"][0]["file"]["id"].asString();
    EXPECT_EQ(3u, rest.file(fileId).size);
    EXPECT_EQ(200, putTo(added.json["files"][0]["uploadDetails"]["put"], "abc"));
}

TEST_F(RestRoutesTest, JsonFaultsReshapeOneAnswer)
{
    const std::string path = "/api/v2/bucket/B1";
    const std::string target = path + "?token=T1&detail=false";
    service.faults().add({"GET", path, 1, 1, rest_faults::removeMember("bucket.created")});
    service.faults().add({"GET", path, 2, 1, rest_faults::setMember("bucket.status", Json::Value(7))});
    service.faults().add({"GET", path, 3, 1, rest_faults::idMismatch()});
    service.faults().add({"GET", path, 4, 1, rest_faults::malformedJson()});
    service.faults().add({"GET", path, 5, 1, rest_faults::htmlError(502)});
    const Answer removed = send("GET", service.url(target));
    EXPECT_FALSE(removed.json["bucket"].isMember("created"));
    EXPECT_TRUE(removed.json["bucket"].isMember("status"));
    EXPECT_EQ(7, send("GET", service.url(target)).json["bucket"]["status"].asInt());
    EXPECT_NE("B1", send("GET", service.url(target)).json["bucket"]["id"].asString());
    EXPECT_TRUE(send("GET", service.url(target)).json.isNull());
    const Answer html = send("GET", service.url(target));
    EXPECT_EQ(502, html.status);
    EXPECT_EQ(0u, html.body.find("<html>"));
    EXPECT_EQ("B1", send("GET", service.url(target)).json["bucket"]["id"].asString());
}

namespace {

// The content's bytes from `offset` on, `size` of them, as an MD5 hex.
std::string sliceMd5(const std::string& content, uint64_t offset, uint64_t size)
{
    return md5Hex(content.substr(static_cast<size_t>(offset), static_cast<size_t>(size)));
}

} // namespace

TEST_F(RestRoutesTest, MultipartFileDetailsGiveTheDigestAndAManifestTheClientParses)
{
    const std::string content = patternedBytes(12 * 1024 + 5);
    MultipartLayout layout;
    layout.partSizes = {4096, 4096, 4096, 5};
    layout.manifestOrder = {3, 1, 4, 2};
    rest.addMultipartFile("B1", "M1", content, layout);
    layout.withManifest = false;
    rest.addMultipartFile("B1", "M2", content, layout);

    const std::vector<std::string> partMd5s = {sliceMd5(content, 0, 4096), sliceMd5(content, 4096, 4096),
                                               sliceMd5(content, 8192, 4096), sliceMd5(content, 12288, 5)};
    const std::string digest = RestRoutes::multipartDigest(partMd5s);
    EXPECT_EQ("-4", digest.substr(digest.size() - 2));
    EXPECT_EQ(34u, digest.size());

    const Answer plain = send("GET", fileUrl("/download?action=DOWNLOAD&token=T1&redirect=false"));
    ASSERT_EQ(404, plain.status) << "F1 has no content";
    for (const char* id : {"M1", "M2"}) {
        const Answer details = send(
            "GET", service.url(std::string("/api/v2/bucket/B1/file/") + id + "/download?action=DOWNLOAD&token=T1"));
        ASSERT_EQ(200, details.status) << details.body;
        EXPECT_EQ(digest, details.json["file"]["md5Digest"].asString()) << id;
        EXPECT_EQ(content, send("GET", details.json["url"].asString()).body) << id;
        ASSERT_TRUE(details.json["multipartManifestUrl"].isString()) << id;
        if (std::string(id) == "M2") {
            EXPECT_EQ("", details.json["multipartManifestUrl"].asString());
            EXPECT_EQ(404, send("GET", service.url(RestRoutes::manifestPath("B1", "M2") + "?token=T1")).status);
            continue;
        }
        const std::string manifestUrl = details.json["multipartManifestUrl"].asString();
        const Answer manifest = send("GET", manifestUrl);
        ASSERT_EQ(200, manifest.status) << manifest.body;

        fv_transfers::DownloadManifest parsed;
        ASSERT_EQ(fv_transfers::CManifestFileParser::kSuccess,
                  fv_transfers::CManifestFileParser::parse(manifest.body, parsed));
        EXPECT_EQ(digest, parsed.eTag);
        ASSERT_EQ(4u, parsed.parts.size());
        for (size_t i = 0; i < parsed.parts.size(); ++i) {
            const uint32_t number = layout.manifestOrder[i];
            EXPECT_EQ(number, parsed.parts[i].number);
            EXPECT_EQ(layout.partSizes[number - 1], parsed.parts[i].size);
            EXPECT_EQ(partMd5s[number - 1], parsed.parts[i].eTag);
        }
        EXPECT_EQ(401, send("GET", manifestUrl.substr(0, manifestUrl.find('?')) + "?token=T2").status);
    }
}

TEST_F(RestRoutesTest, MultipartLayoutMustFitTheContent)
{
    EXPECT_EQ((std::vector<uint64_t>{5, 5, 2}), RestRoutes::evenParts(12, 5));
    EXPECT_EQ((std::vector<uint64_t>{0}), RestRoutes::evenParts(0, 5));
    struct Case {
        std::vector<uint64_t> sizes;
        std::vector<uint32_t> order;
    };
    const Case cases[] = {
        {{5, 5}, {}},     // short of the content
        {{5, 5, 5}, {}},  // beyond it
        {{}, {}},         // no part
        {{6, 6}, {1, 1}}, // a number twice
        {{6, 6}, {2, 3}}, // a number out of range
        {{6, 6}, {1}},    // a part missing from the manifest
    };
    for (const Case& c : cases) {
        MultipartLayout layout;
        layout.partSizes = c.sizes;
        layout.manifestOrder = c.order;
        EXPECT_THROW(rest.addMultipartFile("B1", "X", std::string(12, 'x'), layout), std::invalid_argument);
    }
    EXPECT_EQ("", rest.file("X").id) << "nothing is stored for a refused layout";
}

TEST_F(RestRoutesTest, UrlValidityIsConfigurableAndExpiredUrlsAreRefused)
{
    service.model().objects().put(RestRoutes::fileKey("B1", "F1"), "0123456789");
    const std::string details = fileUrl("/download?action=DOWNLOAD&token=T1&redirect=false");
    EXPECT_EQ(std::chrono::seconds(RestRoutes::kUrlValiditySeconds), rest.urlValidity());

    struct Case {
        int64_t seconds;
        int status;
    };
    for (const Case c : {Case{7200, 200}, Case{0, 403}, Case{RestRoutes::kUrlValiditySeconds, 200}}) {
        rest.setUrlValidity(std::chrono::seconds(c.seconds));
        const uint64_t before = static_cast<uint64_t>(UrlSigner::now());
        const Answer answer = send("GET", details);
        const uint64_t after = static_cast<uint64_t>(UrlSigner::now());
        ASSERT_EQ(200, answer.status) << answer.body;
        const uint64_t expires = answer.json["expires"].asUInt64();
        EXPECT_GE(expires, (before + c.seconds) * 1000) << c.seconds;
        EXPECT_LE(expires, (after + c.seconds) * 1000) << c.seconds;
        // The signature ends where "expires" says: the client's own expiry check agrees with it.
        const std::string url = answer.json["url"].asString();
        EXPECT_NE(std::string::npos, url.find("expires=" + std::to_string(expires / 1000))) << url;
        const Answer download = send("GET", url);
        EXPECT_EQ(c.status, download.status) << c.seconds << " " << download.body;
    }

    // Upload URLs follow the same setting.
    rest.setUrlValidity(std::chrono::seconds(0));
    const Answer upload = uploadDetailsOfF1();
    ASSERT_EQ(200, upload.status) << upload.body;
    EXPECT_EQ(403, putTo(upload.json["put"], "abcdefghij"));
}
