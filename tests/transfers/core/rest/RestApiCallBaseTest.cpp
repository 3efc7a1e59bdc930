#include "core/config/FvTransfersGlobalConfig.h"
#include "core/rest/RestApiAuthBase.h"
#include "core/rest/RestApiCallBase.h"

#include "support/fixtures/TransportTest.h"
#include "support/net/TestCa.h"
#include "support/service/TestService.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace fv_transfers;
using fv_test::Fault;
using fv_test::FaultRule;
using fv_test::ServiceRequest;
using fv_test::ServiceResponse;
using fv_test::TestService;
using fv_test::TestServiceOptions;

namespace {

TestServiceOptions httpAndHttps()
{
    TestServiceOptions options;
    options.https = true;
    return options;
}

void prepare()
{
    fv_test::prepareTransportTest();
    CFvTransfersGlobalConfig::getInstance()->setCaCertificatesFile(fv_test::TestCa::instance().caFile());
}

void answer(TestService& service, const std::string& method, const std::string& path, int status,
            const std::string& body, const std::string& contentType = "application/json")
{
    service.routes().add(method, path, [=](ServiceRequest& request, ServiceResponse& response) {
        request.readWholeBody();
        response.setBody(status, body, contentType);
    });
}

// One whole exchange on a fresh call object.
dt_error exchange(const std::string& baseUrl, const std::string& path, RestRequestType type, Json::Value& root,
                  bool parseBodyOnError, const Json::Value& body = Json::Value(), const RestHeaderList& headers = {})
{
    CRestApiCallBase call(baseUrl);
    call.setTimeouts({2000, 2000, 2000});
    const dt_error sent = call.sendRequest(path, body, headers, type);
    if (sent != dt_success)
        return sent;
    return call.receiveResponse(root, parseBodyOnError);
}

std::vector<std::string> headerNames(const fv_test::LoggedRequest& request)
{
    std::vector<std::string> names;
    for (const auto& field : request.headers.fields())
        names.push_back(field.first);
    return names;
}

} // namespace

TEST(RestApiCallBase, TakesEndpointAndTimeoutsFromItsConstructor)
{
    prepare();
    CFvTransfersGlobalConfig::getInstance()->setRestEndPointUrl("http://127.0.0.1:9");
    const CRestApiCallBase configured;
    EXPECT_EQ("http://127.0.0.1:9", configured.serverUrl());
    EXPECT_EQ(30000, configured.timeouts().connectMs);
    EXPECT_EQ(30000, configured.timeouts().sendMs);
    EXPECT_EQ(30000, configured.timeouts().receiveMs);

    const CRestApiCallBase explicitUrl("http://127.0.0.1:10");
    EXPECT_EQ("http://127.0.0.1:10", explicitUrl.serverUrl());
    EXPECT_EQ(30000, explicitUrl.timeouts().connectMs);
    EXPECT_EQ(60000, explicitUrl.timeouts().sendMs);
    EXPECT_EQ(60000, explicitUrl.timeouts().receiveMs);
}

TEST(RestApiCallBase, WithoutServerUrlNothingIsSent)
{
    prepare();
    TestService service;
    CRestApiCallBase call("");
    EXPECT_EQ(dt_not_connected, call.sendRequest("/api", Json::Value(), {}, RestRequestType::Get));
    Json::Value body;
    body["a"] = 1;
    EXPECT_EQ(dt_not_connected, call.sendRequest("/api", body, {}, RestRequestType::Post));
    EXPECT_EQ(0u, service.log().connectionsAccepted());
}

TEST(RestApiCallBase, WritesFixedHeadersThenListedOnesAndTheBodyWithItsLength)
{
    prepare();
    TestService service;
    answer(service, "GET", "/r", 200, "{}");
    answer(service, "POST", "/r", 200, "{}");
    const std::string agent = CFvTransfersGlobalConfig::getInstance()->getUserAgent();
    Json::Value body;
    body["zeta"] = 1;
    body["name"] = "caf\xc3\xa9";
    body["alpha"] = Json::Value();
    struct Case {
        RestRequestType type;
        Json::Value body;
        RestHeaderList headers;
        std::string expectedBody;
        std::vector<std::pair<std::string, std::string>> expectedHeaders; // before Connection and Host
    };
    const std::vector<Case> cases = {
        {RestRequestType::Get, Json::Value(), {}, "", {{"User-Agent", agent}, {"Content-Type", "application/json"}}},
        {RestRequestType::Post,
         body,
         {},
         "{\"alpha\":null,\"name\":\"caf\\u00e9\",\"zeta\":1}\n",
         {{"Content-Length", "43"}, {"User-Agent", agent}, {"Content-Type", "application/json"}}},
        {RestRequestType::Post,
         body,
         {{"x-extra", "1"}, {"User-Agent", "Mine/2"}, {"x-extra", "2"}},
         "{\"alpha\":null,\"name\":\"caf\\u00e9\",\"zeta\":1}\n",
         {{"Content-Length", "43"}, {"User-Agent", "Mine/2"}, {"Content-Type", "application/json"}, {"x-extra", "2"}}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        service.log().clear();
        Json::Value root;
        ASSERT_EQ(dt_success, exchange(service.baseUrl(), "/r?q=1", c.type, root, false, c.body, c.headers)) << i;
        const auto requests = service.log().all();
        ASSERT_EQ(1u, requests.size());
        const fv_test::LoggedRequest& request = requests[0];
        EXPECT_EQ(c.type == RestRequestType::Get ? "GET" : "POST", request.method);
        EXPECT_EQ("/r?q=1", request.target);
        EXPECT_EQ(c.expectedBody, request.body) << i;
        auto expected = c.expectedHeaders;
        expected.emplace_back("Connection", "Keep-Alive");
        expected.emplace_back("Host", "127.0.0.1:" + std::to_string(service.httpPort()));
        EXPECT_EQ(expected, request.headers.fields()) << i;
    }
}

TEST(RestApiCallBase, MapsStatusAndBodyToResult)
{
    prepare();
    TestService service(httpAndHttps());
    struct Case {
        int status;
        std::string body;
        bool parseBodyOnError;
        bool chunked;
        dt_error expected;
        bool rootFilled;
    };
    const std::vector<Case> cases = {
        {200, "{\"a\":1}", false, false, dt_success, true},
        {200, "OK", false, false, dt_general_error, false},
        {200, "{\"a\":1} trailing", false, false, dt_general_error, false},
        {302, "{\"a\":1}", false, false, dt_success, true},
        {404, "<html>not found</html>", false, false, dt_rest_client_error, false},
        {404, "{\"a\":1}", false, false, dt_rest_client_error, false},
        {404, "{\"a\":1}", true, false, dt_rest_client_error, true},
        {409, "<html/>", true, false, dt_rest_client_error, false},
        {503, "{\"a\":1}", false, false, dt_general_error, false},
        {503, "{\"a\":1}", true, false, dt_general_error, true},
        {200, "{\"chunked\":[1,2,3]}", false, true, dt_success, true},
    };
    for (bool secure : {false, true}) {
        for (size_t i = 0; i < cases.size(); ++i) {
            const Case& c = cases[i];
            const std::string path = "/case" + std::to_string(i) + (secure ? "s" : "");
            answer(service, "GET", path, c.status, c.body);
            if (c.chunked)
                service.faults().add(FaultRule{"GET", path, 1, 1, Fault::chunked({3, 5})});
            Json::Value root("untouched");
            EXPECT_EQ(c.expected, exchange(secure ? service.secureBaseUrl() : service.baseUrl(), path,
                                           RestRequestType::Get, root, c.parseBodyOnError))
                << i << (secure ? " https" : " http");
            if (c.rootFilled)
                EXPECT_TRUE(root.isObject()) << i;
            else
                EXPECT_EQ(Json::Value("untouched"), root) << i;
        }
    }
}

TEST(RestApiCallBase, AuthRequestPostsTheLoginTokenHeader)
{
    prepare();
    TestService service;
    answer(service, "POST", "/login-only", 200, "{}");
    CRestApiAuthBase call(service.baseUrl());
    Json::Value body;
    body["k"] = "v";
    ASSERT_EQ(dt_success, call.sendAuthRequest("/login-only", body, "login-token-1"));
    Json::Value root;
    ASSERT_EQ(dt_success, call.receiveResponse(root, false));
    const auto requests = service.log().forPath("/login-only");
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("POST", requests[0].method);
    EXPECT_EQ("login-token-1", requests[0].headers.get("x-fv-auth-token"));
    EXPECT_EQ((std::vector<std::string>{"Content-Length", "User-Agent", "Content-Type", "x-fv-auth-token", "Connection",
                                        "Host"}),
              headerNames(requests[0]));
}

TEST(RestApiCallBase, RefusesControlCharactersBeforeConnecting)
{
    prepare();
    TestService service;
    const std::vector<std::pair<std::string, RestHeaderList>> cases = {
        {"/a\r\nX-Injected: 1", {}},
        {"/a?b=\n", {}},
        {"/a", {{"x-fv-auth-token", "t\r\nX-Injected: 1"}}},
        {"/a", {{"X-Bad\r\nName", "v"}}},
    };
    for (const auto& c : cases) {
        CRestApiCallBase call(service.baseUrl());
        EXPECT_EQ(dt_invalid_argument, call.sendRequest(c.first, Json::Value(), c.second, RestRequestType::Get));
    }
    EXPECT_EQ(0u, service.log().connectionsAccepted());
}

TEST(RestApiCallBase, BrokenAnswerFailsAndTheObjectServesTheNextExchange)
{
    prepare();
    TestService service;
    answer(service, "GET", "/broken", 200, "{\"a\":\"0123456789\"}");
    struct Case {
        std::string name;
        Fault fault;
        dt_error expected; // dt_success: any failure
    };
    const std::vector<Case> cases = {
        {"stall", Fault::stall(), dt_timeout},
        {"close mid head", Fault::closeMidHead(), dt_success},
        {"close mid body", Fault::closeMidBody(), dt_success},
        {"malformed head", Fault::malformedHead(), dt_success},
        {"length beyond the body", Fault::hugeLength(1000), dt_success},
    };
    for (const Case& c : cases) {
        service.faults().clear();
        service.faults().add(FaultRule{"GET", "/broken", 1, 1, c.fault});
        CRestApiCallBase call(service.baseUrl());
        call.setTimeouts({2000, 2000, 300});
        ASSERT_EQ(dt_success, call.sendRequest("/broken", Json::Value(), {}, RestRequestType::Get)) << c.name;
        Json::Value root;
        const dt_error result = call.receiveResponse(root, false);
        if (c.expected != dt_success) {
            EXPECT_EQ(c.expected, result) << c.name;
        } else {
            EXPECT_NE(dt_success, result) << c.name;
        }
        EXPECT_TRUE(root.isNull()) << c.name;
        call.setTimeouts({2000, 2000, 2000});
        ASSERT_EQ(dt_success, call.sendRequest("/broken", Json::Value(), {}, RestRequestType::Get)) << c.name;
        EXPECT_EQ(dt_success, call.receiveResponse(root, false)) << c.name;
        EXPECT_EQ("0123456789", root["a"].asString()) << c.name;
    }
}
