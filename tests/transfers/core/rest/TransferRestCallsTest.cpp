#include "core/config/FvTransfersGlobalConfig.h"
#include "core/log/FvTransfersLogger.h"
#include "core/rest/RestApiAuthBase.h"
#include "core/rest/RestApiBucketStatusRetrieve.h"
#include "core/rest/RestApiDownloadDetails.h"
#include "core/rest/RestApiFileDetailsFetch.h"
#include "core/rest/RestApiFileStatusUpdate.h"
#include "core/rest/RestApiMultiPartUploadAbort.h"
#include "core/rest/RestApiMultiPartUploadComplete.h"
#include "core/rest/RestApiMultiPartUploadInitialize.h"

#include "support/fixtures/TestBytes.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/TransportTest.h"
#include "support/net/TestCa.h"
#include "support/service/RestFaults.h"
#include "support/service/RestRoutes.h"
#include "support/service/TestService.h"

#include <gtest/gtest.h>

#include <Poco/MD5Engine.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

using namespace fv_transfers;
using fv_test::Fault;
using fv_test::FaultRule;
using fv_test::RestRoutes;
namespace rest_faults = fv_test::rest_faults;

namespace {

fv_test::TestServiceOptions httpAndHttps()
{
    fv_test::TestServiceOptions options;
    options.https = true;
    return options;
}

Json::Value json(const std::string& text)
{
    Json::Value value;
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    reader->parse(text.data(), text.data() + text.size(), &value, &errors);
    return value;
}

using fv_test::md5Hex;

const std::string kBucketsPath = "/api/v2/bucket/*";
const std::string kUploadPath = "/api/v2/bucket/B1/file/F1/upload";
const std::string kStatusPath = "/api/v2/bucket/B1/file/F1/status";
const std::string kInitializePath = "/api/v2/bucket/B1/file/F1/upload/multipart/initialize";

} // namespace

// Every case runs over HTTP and over HTTPS (GetParam() true), against the test service's REST side.
class TransferRestCalls : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        fv_test::prepareTransportTest();
        CFvTransfersGlobalConfig* config = CFvTransfersGlobalConfig::getInstance();
        config->setCaCertificatesFile(fv_test::TestCa::instance().caFile());
        config->setRestEndPointUrl(secure() ? service.secureBaseUrl() : service.baseUrl());
        rest.addBucket("B1", "T1");
        rest.addFile("B1", "F1", 100);
    }

    bool secure() const { return GetParam(); }

    // The fault for the next matching request only; earlier ones are dropped.
    void injectOnce(const std::string& method, const std::string& path, std::optional<Fault> fault)
    {
        service.faults().clear();
        if (fault)
            service.faults().add(FaultRule{method, path, 1, 1, *fault});
    }

    // One exchange on a fresh call object: execute, then getResult when that succeeded.
    template <typename Call, typename Params, typename... Result>
    static dt_error run(const Params& params, Result&... result)
    {
        Call call;
        call.setTimeouts({3000, 3000, 3000});
        const dt_error sent = call.execute(params);
        return sent != dt_success ? sent : call.getResult(result...);
    }

    // Parameters about F1 of B1.
    template <typename Params> static Params forFile()
    {
        Params params;
        params.fileId = "F1";
        params.bucketId = "B1";
        params.bucketToken = "T1";
        return params;
    }

    static dt_error bucketStatus(const std::string& bucketId, const std::string& token, BucketStatusInfo& info)
    {
        CRestApiBucketStatusRetrieve call;
        call.setTimeouts({3000, 3000, 3000});
        const dt_error sent = call.execute(bucketId, token);
        return sent != dt_success ? sent : call.getResult(info);
    }

    static dt_error downloadDetails(RestDownloadDetails& details)
    {
        return run<CRestApiDownloadDetails>(FileRequestParams{"B1", "F1", "T1"}, details);
    }

    static UploadDetailsRequestParams uploadParams(const std::string& md5 = "")
    {
        auto params = forFile<UploadDetailsRequestParams>();
        params.md5Digest = md5;
        params.fileSize = 100;
        return params;
    }

    static dt_error uploadDetails(FileUploadDetails& details, const UploadDetailsRequestParams& params = uploadParams())
    {
        return run<CRestApiFileDetailsFetch>(params, details);
    }

    static FileStatusRequestParams statusParams(RestFileStatus status, uint64_t progress)
    {
        auto params = forFile<FileStatusRequestParams>();
        params.status = status;
        params.progress = progress;
        return params;
    }

    static dt_error statusUpdate(const FileStatusRequestParams& params)
    {
        return run<CRestApiFileStatusUpdate>(params);
    }

    static MultiPartInitParams initParams(std::vector<PartDesc> parts)
    {
        auto params = forFile<MultiPartInitParams>();
        for (const PartDesc& part : parts)
            params.fileSize += part.size;
        params.parts = std::move(parts);
        return params;
    }

    static dt_error initialize(const MultiPartInitParams& params, MultiPartInitResult& result)
    {
        return run<CRestApiMultiPartUploadInitialize>(params, result);
    }

    static MultiPartCompleteParams completeParams(const std::string& uploadId, uint32_t parts)
    {
        auto params = forFile<MultiPartCompleteParams>();
        params.uploadId = uploadId;
        params.numberOfParts = parts;
        return params;
    }

    static dt_error complete(const MultiPartCompleteParams& params)
    {
        return run<CRestApiMultiPartUploadComplete>(params);
    }

    static dt_error abort(const MultiPartRequestParams& params) { return run<CRestApiMultiPartUploadAbort>(params); }

    std::string storageUrlPrefix(const std::string& key) const
    {
        return service.url("/storage/" + key, secure()) + "?";
    }

    fv_test::TestService service{httpAndHttps()};
    RestRoutes rest{service};
};

INSTANTIATE_TEST_SUITE_P(HttpAndHttps, TransferRestCalls, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Https" : "Http"; });

TEST_P(TransferRestCalls, SendEachCallsExactRequest)
{
    const std::string part1(60, 'a');
    const std::string part2(40, 'b');
    service.model().objects().put(RestRoutes::fileKey("B1", "F1"), "content");
    MultiPartInitResult initialized;
    struct Case {
        std::function<dt_error()> run;
        std::string method;
        std::string target;
        std::string body;
    };
    const std::vector<Case> cases = {
        {[&] {
             BucketStatusInfo info;
             return bucketStatus("B1", "T1", info);
         },
         "GET", "/api/v2/bucket/B1?token=T1&detail=false", ""},
        {[&] {
             RestDownloadDetails details;
             return downloadDetails(details);
         },
         "GET", "/api/v2/bucket/B1/file/F1/download?action=DOWNLOAD&token=T1&redirect=false", ""},
        {[&] {
             FileUploadDetails details;
             return uploadDetails(details);
         },
         "POST", kUploadPath,
         R"({"bucketId":"B1","fileId":"F1","md5Digest":null,"size":100,"token":"T1","uploader":"DESKTOP"})"
         "\n"},
        {[&] {
             FileUploadDetails details;
             return uploadDetails(details, uploadParams("kZ1+/w=="));
         },
         "POST", kUploadPath,
         R"({"bucketId":"B1","fileId":"F1","md5Digest":"kZ1+/w==","size":100,"token":"T1","uploader":"DESKTOP"})"
         "\n"},
        {[&] { return statusUpdate(statusParams(REST_FILE_UPLOADING, 50)); }, "POST", kStatusPath,
         R"({"bucketId":"B1","fileId":"F1","progress":50,"status":"UPLOADING","token":"T1"})"
         "\n"},
        {[&] {
             return initialize(initParams({{1, 60, ""}, {2, 40, "d2"}}), initialized);
         },
         "POST", kInitializePath,
         R"({"bucketId":"B1","fileId":"F1","md5Digest":null,"parts":[{"md5Digest":null,"number":1,"size":60},)"
         R"({"md5Digest":"d2","number":2,"size":40}],"size":100,"token":"T1","uploadId":null,"uploader":"DESKTOP"})"
         "\n"},
        {[&] {
             MultiPartRequestParams params = completeParams("upload-1", 0);
             return abort(params);
         },
         "POST", "/api/v2/bucket/B1/file/F1/upload/multipart/abort",
         R"({"bucketId":"B1","fileId":"F1","token":"T1","uploadId":"upload-1"})"
         "\n"},
        {[&] {
             MultiPartInitParams params = initParams({{1, 60, "d1"}, {2, 40, "d2"}});
             params.md5Digest = "cafe";
             return initialize(params, initialized);
         },
         "POST", kInitializePath,
         R"({"bucketId":"B1","fileId":"F1","md5Digest":"cafe","parts":[{"md5Digest":"d1","number":1,"size":60},)"
         R"({"md5Digest":"d2","number":2,"size":40}],"size":100,"token":"T1","uploadId":null,"uploader":"DESKTOP"})"
         "\n"},
        {[&] {
             service.model().objects().put(RestRoutes::partKey("upload-2", 1), part1);
             service.model().objects().put(RestRoutes::partKey("upload-2", 2), part2);
             return complete(completeParams("upload-2", 2));
         },
         "POST", "/api/v2/bucket/B1/file/F1/upload/multipart/complete",
         R"({"bucketId":"B1","fileId":"F1","numberOfParts":2,"token":"T1","uploadId":"upload-2"})"
         "\n"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        service.log().clear();
        EXPECT_EQ(dt_success, cases[i].run()) << i;
        const auto requests = service.log().all();
        ASSERT_EQ(1u, requests.size()) << i;
        EXPECT_EQ(cases[i].method, requests[0].method) << i;
        EXPECT_EQ(cases[i].target, requests[0].target) << i;
        EXPECT_EQ(cases[i].body, requests[0].body) << i;
        EXPECT_FALSE(requests[0].headers.has("x-fv-auth-token")) << i;
    }
    EXPECT_EQ(part1 + part2, service.model().objects().contents(RestRoutes::fileKey("B1", "F1")).value_or(""));
    EXPECT_EQ("COMPLETED", rest.file("F1").status);
}

TEST_P(TransferRestCalls, BucketStatusFromAnswer)
{
    rest.addBucket("B2", "T2", "EDITING", false);
    struct Case {
        std::string name;
        std::string bucketId;
        std::string token;
        std::optional<Fault> fault;
        dt_error result;
        BucketStatus status;
        bool uploadAllowed;
        bool createdKnown;
    };
    const uint64_t created = 1700000000000ull;
    const std::vector<Case> cases = {
        {"editing", "B1", "T1", std::nullopt, dt_success, BUCKET_STATUS_EDITING, true, true},
        {"upload not allowed", "B2", "T2", std::nullopt, dt_success, BUCKET_STATUS_EDITING, false, true},
        {"archived", "B1", "T1", rest_faults::setMember("bucket.status", "ARCHIVED"), dt_success,
         BUCKET_STATUS_ARCHIVED, true, true},
        {"deleted in body", "B1", "T1", rest_faults::setMember("bucket.status", "DELETED"), dt_success,
         BUCKET_STATUS_DELETED, true, true},
        {"expired in body", "B1", "T1", rest_faults::setMember("bucket.status", "EXPIRED"), dt_success,
         BUCKET_STATUS_EXPIRED, true, true},
        {"unknown text", "B1", "T1", rest_faults::setMember("bucket.status", "FROZEN"), dt_success,
         BUCKET_STATUS_UNKNOWN, true, true},
        {"uploadAllowed absent", "B2", "T2", rest_faults::removeMember("bucket.uploadAllowed"), dt_success,
         BUCKET_STATUS_EDITING, true, true},
        {"uploadAllowed a string", "B2", "T2", rest_faults::setMember("bucket.uploadAllowed", "no"), dt_success,
         BUCKET_STATUS_EDITING, true, true},
        {"created absent", "B1", "T1", rest_faults::removeMember("bucket.created"), dt_success, BUCKET_STATUS_EDITING,
         true, false},
        {"created a string", "B1", "T1", rest_faults::setMember("bucket.created", "1700000000000"), dt_success,
         BUCKET_STATUS_EDITING, true, false},
        {"created negative", "B1", "T1", rest_faults::setMember("bucket.created", -5), dt_success,
         BUCKET_STATUS_EDITING, true, false},
        {"status null", "B1", "T1", rest_faults::setMember("bucket.status", Json::Value()), dt_general_error,
         BUCKET_STATUS_UNKNOWN, true, true},
        {"status a number", "B1", "T1", rest_faults::setMember("bucket.status", 2), dt_general_error,
         BUCKET_STATUS_UNKNOWN, true, true},
        {"id mismatch", "B1", "T1", rest_faults::idMismatch(), dt_general_error, BUCKET_STATUS_UNKNOWN, true, false},
        {"bucket absent", "B1", "T1", rest_faults::removeMember("bucket"), dt_general_error, BUCKET_STATUS_UNKNOWN,
         true, false},
        {"bucket a string", "B1", "T1", rest_faults::setMember("bucket", "B1"), dt_general_error, BUCKET_STATUS_UNKNOWN,
         true, false},
        {"root an array", "B1", "T1", rest_faults::changeJson([](Json::Value& root) { root = json("[1]"); }),
         dt_general_error, BUCKET_STATUS_UNKNOWN, true, false},
        {"malformed", "B1", "T1", rest_faults::malformedJson(), dt_general_error, BUCKET_STATUS_UNKNOWN, true, false},
        {"unknown bucket: 404", "B9", "T1", std::nullopt, dt_success, BUCKET_STATUS_DELETED, true, false},
        {"gone: 410", "B1", "T1", rest_faults::htmlError(410), dt_success, BUCKET_STATUS_DELETED, true, false},
        {"wrong token: 401", "B1", "bad", std::nullopt, dt_rest_client_error, BUCKET_STATUS_UNKNOWN, true, false},
        {"403", "B1", "T1", rest_faults::htmlError(403), dt_rest_client_error, BUCKET_STATUS_UNKNOWN, true, false},
        {"408", "B1", "T1", Fault::statusCode(408), dt_rest_client_error, BUCKET_STATUS_UNKNOWN, true, false},
        {"429", "B1", "T1", rest_faults::jsonError(429, json(R"({"type":"slow down"})")), dt_rest_client_error,
         BUCKET_STATUS_UNKNOWN, true, false},
        {"503", "B1", "T1", Fault::statusCode(503), dt_general_error, BUCKET_STATUS_UNKNOWN, true, false},
    };
    for (const Case& c : cases) {
        injectOnce("GET", kBucketsPath, c.fault);
        BucketStatusInfo info;
        EXPECT_EQ(c.result, bucketStatus(c.bucketId, c.token, info)) << c.name;
        EXPECT_EQ(c.status, info.status) << c.name;
        if (c.result != dt_success)
            continue;
        EXPECT_EQ(c.uploadAllowed, info.uploadAllowed) << c.name;
        EXPECT_EQ(c.createdKnown, info.createdKnown) << c.name;
        EXPECT_EQ(c.createdKnown ? created : 0u, info.created) << c.name;
    }
}

TEST_P(TransferRestCalls, DownloadDetailsFromAnswer)
{
    service.model().objects().put(RestRoutes::fileKey("B1", "F1"), "content");
    struct Case {
        std::string name;
        std::optional<Fault> fault;
        dt_error result;
    };
    const std::vector<Case> cases = {
        {"plain", std::nullopt, dt_success},
        {"with manifest", rest_faults::setMember("multipartManifestUrl", "https://127.0.0.1/m"), dt_success},
        {"manifest a number", rest_faults::setMember("multipartManifestUrl", 5), dt_success},
        {"url only inside file", rest_faults::changeJson([](Json::Value& root) {
             root["file"]["url"] = root["url"];
             root.removeMember("url");
         }),
         dt_rest_client_error},
        {"url empty", rest_faults::setMember("url", ""), dt_rest_client_error},
        {"expires a string", rest_faults::setMember("expires", "1700000000000"), dt_rest_client_error},
        {"expires negative", rest_faults::setMember("expires", -1), dt_rest_client_error},
        {"md5Digest absent", rest_faults::removeMember("file.md5Digest"), dt_rest_client_error},
        {"file a string", rest_faults::setMember("file", "F1"), dt_rest_client_error},
        {"file id mismatch", rest_faults::idMismatch(), dt_rest_client_error},
        {"bucket id mismatch", rest_faults::setMember("file.bucketId", "B2"), dt_rest_client_error},
        {"bucket id a number", rest_faults::setMember("file.bucketId", 1), dt_rest_client_error},
        {"malformed", rest_faults::malformedJson(), dt_general_error},
        {"404", rest_faults::htmlError(404), dt_rest_client_error},
        {"500", Fault::statusCode(500), dt_general_error},
    };
    for (const Case& c : cases) {
        injectOnce("GET", kBucketsPath, c.fault);
        RestDownloadDetails details;
        EXPECT_EQ(c.result, downloadDetails(details)) << c.name;
        if (c.result != dt_success)
            continue;
        EXPECT_EQ(0u, details.url.rfind(storageUrlPrefix(RestRoutes::fileKey("B1", "F1")), 0)) << details.url;
        EXPECT_EQ(md5Hex("content"), details.md5Digest);
        EXPECT_GT(details.expires, 0u);
        EXPECT_EQ(c.name == "with manifest" ? "https://127.0.0.1/m" : "", details.multipartManifestUrl) << c.name;
    }
}

TEST_P(TransferRestCalls, UploadDetailsFromAnswer)
{
    const Json::Value statusException = json(R"({"type":"ferrovan.service.bucket.FileStatusException"})");
    struct Case {
        std::string name;
        std::optional<Fault> fault;
        dt_error result;
        bool errorTypeReceived;
        bool fileStatusException;
        RestHeaderList headers;
    };
    const std::vector<Case> cases = {
        {"plain", std::nullopt, dt_success, false, false, {{"x-fv-file-id", "F1"}}},
        {"headers absent", rest_faults::removeMember("put.headers"), dt_success, false, false, {}},
        {"headers by name",
         rest_faults::setMember("put.headers", json(R"({"b":"2","A":"1","a":"3"})")),
         dt_success,
         false,
         false,
         {{"A", "1"}, {"a", "3"}, {"b", "2"}}},
        {"header value a number",
         rest_faults::setMember("put.headers", json(R"({"a":1})")),
         dt_rest_client_error,
         false,
         false,
         {}},
        {"put absent", rest_faults::removeMember("put"), dt_rest_client_error, false, false, {}},
        {"put a string", rest_faults::setMember("put", "u"), dt_rest_client_error, false, false, {}},
        {"url a number", rest_faults::setMember("put.url", 1), dt_rest_client_error, false, false, {}},
        {"expires null", rest_faults::setMember("put.expires", Json::Value()), dt_rest_client_error, false, false, {}},
        {"expires a string", rest_faults::setMember("put.expires", "1"), dt_rest_client_error, false, false, {}},
        {"409 file status", rest_faults::jsonError(409, statusException), dt_rest_client_error, true, true, {}},
        {"409 other type",
         rest_faults::jsonError(409, json(R"({"type":"other"})")),
         dt_rest_client_error,
         true,
         false,
         {}},
        {"409 type a number", rest_faults::jsonError(409, json(R"({"type":1})")), dt_general_error, false, false, {}},
        {"409 array body", rest_faults::jsonError(409, json("[1]")), dt_general_error, false, false, {}},
        {"400 html", rest_faults::htmlError(400), dt_general_error, false, false, {}},
        {"500 with type", rest_faults::jsonError(500, statusException), dt_general_error, false, false, {}},
        {"file absent", rest_faults::removeMember("file"), dt_general_error, false, false, {}},
        {"file a string", rest_faults::setMember("file", "F1"), dt_general_error, false, false, {}},
        {"file id mismatch", rest_faults::idMismatch(), dt_general_error, false, false, {}},
        {"bucket id mismatch", rest_faults::setMember("file.bucketId", "B2"), dt_general_error, false, false, {}},
    };
    for (const Case& c : cases) {
        injectOnce("POST", kUploadPath, c.fault);
        FileUploadDetails details;
        EXPECT_EQ(c.result, uploadDetails(details)) << c.name;
        EXPECT_EQ(c.errorTypeReceived, details.errorTypeReceived) << c.name;
        EXPECT_EQ(c.fileStatusException, details.fileStatusException) << c.name;
        EXPECT_EQ(c.headers, details.headers) << c.name;
        if (c.result == dt_success) {
            EXPECT_EQ(0u, details.url.rfind(storageUrlPrefix(RestRoutes::fileKey("B1", "F1")), 0)) << details.url;
            EXPECT_GT(details.expires, 0u);
        }
    }
    // The service's own refusal of a finished file.
    rest.addFile("B1", "F2", 10, "COMPLETED");
    UploadDetailsRequestParams params = uploadParams();
    params.fileId = "F2";
    FileUploadDetails details;
    EXPECT_EQ(dt_rest_client_error, uploadDetails(details, params));
    EXPECT_TRUE(details.errorTypeReceived);
    EXPECT_TRUE(details.fileStatusException);
}

TEST_P(TransferRestCalls, FileCallsRequireTheirFileInTheAnswer)
{
    struct Case {
        std::string name;
        std::optional<Fault> fault;
        dt_error result;
    };
    const std::vector<Case> cases = {
        {"plain", std::nullopt, dt_success},
        {"file absent", rest_faults::removeMember("file"), dt_general_error},
        {"file null", rest_faults::setMember("file", Json::Value()), dt_general_error},
        {"file a string", rest_faults::setMember("file", "F1"), dt_general_error},
        {"file id mismatch", rest_faults::idMismatch(), dt_general_error},
        {"file id a number", rest_faults::setMember("file.id", 1), dt_general_error},
        {"bucket id mismatch", rest_faults::setMember("file.bucketId", "B2"), dt_general_error},
        {"bucket id absent", rest_faults::removeMember("file.bucketId"), dt_general_error},
        {"malformed", rest_faults::malformedJson(), dt_general_error},
        {"401", rest_faults::jsonError(401, json(R"({"type":"auth"})")), dt_rest_client_error},
    };
    for (const Case& c : cases) {
        injectOnce("POST", kStatusPath, c.fault);
        EXPECT_EQ(c.result, statusUpdate(statusParams(REST_FILE_CANCELLED, 7))) << c.name;
    }
    EXPECT_EQ("CANCELLED", rest.file("F1").status);
    EXPECT_EQ(7u, rest.file("F1").progress);
}

TEST_P(TransferRestCalls, MultipartInitializeAnswerMustMatchTheRequestedParts)
{
    const auto reversed = rest_faults::changeJson([](Json::Value& root) {
        Json::Value list(Json::arrayValue);
        for (int i = static_cast<int>(root["partUploadDetails"].size()) - 1; i >= 0; --i)
            list.append(root["partUploadDetails"][i]);
        root["partUploadDetails"] = list;
    });
    struct Case {
        std::string name;
        std::optional<Fault> fault;
        dt_error result;
    };
    const std::vector<Case> cases = {
        {"plain", std::nullopt, dt_success},
        {"parts in reverse order", reversed, dt_success},
        {"headers absent", rest_faults::removeMember("partUploadDetails.1.headers"), dt_success},
        {"url absent", rest_faults::removeMember("partUploadDetails.1.url"), dt_general_error},
        {"url empty", rest_faults::setMember("partUploadDetails.2.url", ""), dt_general_error},
        {"fewer parts", rest_faults::removeMember("partUploadDetails.2"), dt_general_error},
        {"no parts", rest_faults::removeMember("partUploadDetails"), dt_general_error},
        {"parts an object", rest_faults::setMember("partUploadDetails", json("{}")), dt_general_error},
        {"part a string", rest_faults::setMember("partUploadDetails.0", "u"), dt_general_error},
        {"number repeated", rest_faults::setMember("partUploadDetails.1.number", 1), dt_general_error},
        {"number not requested", rest_faults::setMember("partUploadDetails.1.number", 7), dt_general_error},
        {"number absent", rest_faults::removeMember("partUploadDetails.0.number"), dt_general_error},
        {"number a string", rest_faults::setMember("partUploadDetails.0.number", "1"), dt_general_error},
        {"expires a string", rest_faults::setMember("partUploadDetails.0.expires", "x"), dt_general_error},
        {"extra part", rest_faults::changeJson([](Json::Value& root) {
             Json::Value extra = root["partUploadDetails"][0];
             extra["number"] = 4;
             root["partUploadDetails"].append(extra);
         }),
         dt_general_error},
        {"uploadId null", rest_faults::setMember("uploadId", Json::Value()), dt_general_error},
        {"uploadId a number", rest_faults::setMember("uploadId", 3), dt_general_error},
        {"file id mismatch", rest_faults::idMismatch(), dt_general_error},
    };
    for (const Case& c : cases) {
        injectOnce("POST", kInitializePath, c.fault);
        MultiPartInitResult result;
        EXPECT_EQ(c.result, initialize(initParams({{1, 40, ""}, {2, 40, ""}, {3, 20, ""}}), result)) << c.name;
        if (c.result != dt_success) {
            EXPECT_TRUE(result.parts.empty()) << c.name;
            continue;
        }
        ASSERT_EQ(3u, result.parts.size()) << c.name;
        for (int number = 1; number <= 3; ++number) {
            const PartUploadDetails& part = result.parts[static_cast<size_t>(number - 1)];
            EXPECT_EQ(number, part.number) << c.name;
            EXPECT_EQ(0u, part.url.rfind(storageUrlPrefix(RestRoutes::partKey(result.uploadId, number)), 0))
                << c.name << " " << part.url;
            EXPECT_GT(part.expires, 0u);
        }
    }
    MultiPartInitResult result;
    EXPECT_EQ(dt_invalid_argument, initialize(initParams({{1, 40, ""}, {1, 60, ""}}), result));
    EXPECT_EQ(dt_invalid_argument, initialize(initParams({{0, 100, ""}}), result));
}

TEST_P(TransferRestCalls, UnknownFileStatusIsRefusedWithoutSending)
{
    for (int status : {-1, 7, 9}) {
        EXPECT_EQ(dt_invalid_argument, statusUpdate(statusParams(static_cast<RestFileStatus>(status), 1)));
    }
    EXPECT_EQ(0u, service.log().connectionsAccepted());
}

TEST_P(TransferRestCalls, SecondExecuteOnTheSameObjectAfterServiceError)
{
    service.faults().add(FaultRule{"", "*", 1, 1, Fault::statusCode(503)});
    CRestApiBucketStatusRetrieve bucketCall;
    BucketStatusInfo info;
    ASSERT_EQ(dt_success, bucketCall.execute("B1", "T1"));
    EXPECT_EQ(dt_general_error, bucketCall.getResult(info));
    ASSERT_EQ(dt_success, bucketCall.execute("B1", "T1"));
    EXPECT_EQ(dt_success, bucketCall.getResult(info));
    EXPECT_EQ(BUCKET_STATUS_EDITING, info.status);

    service.faults().add(FaultRule{"POST", "*", 1, 1, Fault::statusCode(503)});
    CRestApiFileDetailsFetch uploadCall;
    uploadCall.setTimeouts(kUploadDetailsTimeouts);
    FileUploadDetails details;
    ASSERT_EQ(dt_success, uploadCall.execute(uploadParams()));
    EXPECT_EQ(dt_general_error, uploadCall.getResult(details));
    ASSERT_EQ(dt_success, uploadCall.execute(uploadParams()));
    EXPECT_EQ(dt_success, uploadCall.getResult(details));
    EXPECT_FALSE(details.url.empty());

    // After a stalled answer too: the next exchange does not read the old one's bytes.
    service.faults().add(FaultRule{"POST", kStatusPath, 1, 1, Fault::stall()});
    CRestApiFileStatusUpdate statusCall;
    statusCall.setTimeouts({3000, 3000, 300});
    ASSERT_EQ(dt_success, statusCall.execute(statusParams(REST_FILE_UPLOADING, 1)));
    EXPECT_EQ(dt_timeout, statusCall.getResult());
    statusCall.setTimeouts({3000, 3000, 3000});
    ASSERT_EQ(dt_success, statusCall.execute(statusParams(REST_FILE_UPLOADING, 2)));
    EXPECT_EQ(dt_success, statusCall.getResult());
    EXPECT_EQ(2u, rest.file("F1").progress);
}

TEST_P(TransferRestCalls, UnsafeIdsAreRefusedAndTokensEncoded)
{
    const std::vector<std::string> badIds = {"",  "B1&x=1",     "B1#f", "B1?token=T1",         "../B1", "..",
                                             ".", "B1/file/F1", "B 1",  "B1\r\nX-Injected: 1", "B1%2F", "B\xc3\xa9"};
    for (const std::string& id : badIds) {
        BucketStatusInfo info;
        EXPECT_EQ(dt_invalid_argument, bucketStatus(id, "T1", info)) << id;
        FileRequestParams download{id, "F1", "T1"};
        CRestApiDownloadDetails downloadCall;
        EXPECT_EQ(dt_invalid_argument, downloadCall.execute(download)) << id;
        UploadDetailsRequestParams upload = uploadParams();
        upload.fileId = id;
        FileUploadDetails details;
        EXPECT_EQ(dt_invalid_argument, uploadDetails(details, upload)) << id;
        MultiPartRequestParams abortParams = completeParams("", 0);
        abortParams.bucketId = id;
        EXPECT_EQ(dt_invalid_argument, abort(abortParams)) << id;
    }
    for (const std::string& token : {std::string("T1\r\nX-Injected: 1"), std::string("T1\n"), std::string("T\x01")}) {
        BucketStatusInfo info;
        EXPECT_EQ(dt_invalid_argument, bucketStatus("B1", token, info));
        FileStatusRequestParams params = statusParams(REST_FILE_UPLOADING, 1);
        params.bucketToken = token;
        EXPECT_EQ(dt_invalid_argument, statusUpdate(params));
    }
    EXPECT_EQ(0u, service.log().connectionsAccepted());

    // A token with every character that could reshape the query reaches the service intact.
    const std::string token = "a&b#c?d/../e f+g%h=i";
    rest.addBucket("B3", token);
    rest.addFile("B3", "F3", 5);
    service.model().objects().put(RestRoutes::fileKey("B3", "F3"), "12345");
    BucketStatusInfo info;
    EXPECT_EQ(dt_success, bucketStatus("B3", token, info));
    CRestApiDownloadDetails downloadCall;
    RestDownloadDetails details;
    ASSERT_EQ(dt_success, downloadCall.execute({"B3", "F3", token}));
    EXPECT_EQ(dt_success, downloadCall.getResult(details));
    const auto requests = service.log().all();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("/api/v2/bucket/B3?token=a%26b%23c%3Fd%2F..%2Fe%20f%2Bg%25h%3Di&detail=false", requests[0].target);
    EXPECT_EQ("/api/v2/bucket/B3/file/F3/download?action=DOWNLOAD&token=a%26b%23c%3Fd%2F..%2Fe%20f%2Bg%25h%3Di"
              "&redirect=false",
              requests[1].target);
    for (const auto& request : requests)
        EXPECT_FALSE(request.headers.has("X-Injected"));
}

TEST_P(TransferRestCalls, NoSecretReachesTheLogAtAnyLevel)
{
    CFvTransfersGlobalConfig::getInstance()->setVerboseLogging(true);
    const std::string bucketToken = "bucketSecret4711";
    const std::string loginToken = "loginSecret0815";
    rest.addBucket("S1", bucketToken);
    rest.addFile("S1", "SF1", 100);
    service.model().objects().put(RestRoutes::fileKey("S1", "SF1"), "content");
    std::vector<std::string> signedUrls;

    BucketStatusInfo info;
    EXPECT_EQ(dt_success, bucketStatus("S1", bucketToken, info));
    CRestApiDownloadDetails downloadCall;
    RestDownloadDetails download;
    ASSERT_EQ(dt_success, downloadCall.execute({"S1", "SF1", bucketToken}));
    EXPECT_EQ(dt_success, downloadCall.getResult(download));
    signedUrls.push_back(download.url);

    UploadDetailsRequestParams upload = uploadParams();
    upload.bucketId = "S1";
    upload.fileId = "SF1";
    upload.bucketToken = bucketToken;
    FileUploadDetails uploadDetailsResult;
    EXPECT_EQ(dt_success, uploadDetails(uploadDetailsResult, upload));
    signedUrls.push_back(uploadDetailsResult.url);

    MultiPartInitParams init = initParams({{1, 50, ""}, {2, 50, ""}});
    init.bucketId = "S1";
    init.fileId = "SF1";
    init.bucketToken = bucketToken;
    MultiPartInitResult parts;
    EXPECT_EQ(dt_success, initialize(init, parts));
    for (const PartUploadDetails& part : parts.parts)
        signedUrls.push_back(part.url);

    // A refused call logs its error body too.
    service.faults().add(FaultRule{"GET", "/api/v2/bucket/S1", 1, 1,
                                   rest_faults::jsonError(401, json("{\"token\":\"" + bucketToken + "\"}"))});
    EXPECT_EQ(dt_rest_client_error, bucketStatus("S1", bucketToken, info));

    service.routes().add("POST", "/auth", [](fv_test::ServiceRequest& request, fv_test::ServiceResponse& response) {
        request.readWholeBody();
        response.setBody(200, "{}", "application/json");
    });
    CRestApiAuthBase authCall;
    Json::Value body;
    body["password"] = "passwordSecret42";
    ASSERT_EQ(dt_success, authCall.sendAuthRequest("/auth", body, loginToken));
    Json::Value root;
    EXPECT_EQ(dt_success, authCall.receiveResponse(root, false));

    std::vector<std::string> secrets = {bucketToken, loginToken, "passwordSecret42"};
    for (const std::string& url : signedUrls) {
        const size_t at = url.find("signature=");
        ASSERT_NE(std::string::npos, at) << url;
        secrets.push_back(url.substr(at + 10, url.find('&', at) - at - 10));
        ASSERT_GE(secrets.back().size(), 16u) << url;
    }
    const std::string log = fv_test::readFile(getLogFilePath());
    EXPECT_NE(std::string::npos, log.find("Sending REST API request")) << "the calls were not logged";
    EXPECT_NE(std::string::npos, log.find("Received REST API response:")) << "trace level was not on";
    for (const std::string& secret : secrets)
        EXPECT_EQ(std::string::npos, log.find(secret)) << secret;
}
