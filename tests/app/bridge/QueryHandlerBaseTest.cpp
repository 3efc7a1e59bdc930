#include "QueryRouterStub.h"
#include "TwoMethodHandler.h"
#include "bridge/InvalidJsonBridgeParam.h"
#include "support/fixtures/Watchdog.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

using fv_test::QueryAnswer;
using fv_test::QueryRouterStub;
using fv_test::TwoMethodHandler;

struct ProtocolCase {
    const char* name;
    std::string request;
    bool success;
    std::string text;
};

// Names the case only: a request may be 200 KiB of brackets.
void PrintTo(const ProtocolCase& c, std::ostream* out)
{
    *out << c.name;
}

const std::string kParseFailure = "Failed to parse JSON";
const std::string kNoMethod = "Key 'method' not found in input json!";
const std::string kCanceled = "The query has been canceled";
const std::string kExceptionPrefix = "Exception caught when executing query handler: ";

std::string nestedArrays(int depth)
{
    return std::string(depth, '[') + std::string(depth, ']');
}

std::vector<ProtocolCase> protocolCases()
{
    return {
        {"Empty", "", false, kParseFailure},
        {"NotJson", "abc", false, kParseFailure},
        {"TrailingText", R"({"method":"echo"} x)", false, kParseFailure},
        {"DeeplyNested", nestedArrays(100000), false, kParseFailure},
        {"DeepParameters", R"({"method":"echo","parameters":)" + nestedArrays(100000) + "}", false, kParseFailure},
        {"ArrayRoot", "[1]", false, kNoMethod},
        {"NumberRoot", "5", false, kNoMethod},
        {"StringRoot", R"("echo")", false, kNoMethod},
        {"MethodNumber", R"({"method":5})", false, kNoMethod},
        {"MethodNull", R"({"method":null})", false, kNoMethod},
        {"MethodArray", R"({"method":["echo"]})", false, kNoMethod},
        {"NoMethod", R"({"parameters":{}})", false, kNoMethod},
        {"UnknownMethod", R"({"method":"nope"})", false, kCanceled},
        {"MethodOtherCase", R"({"method":"SupportedMethods"})", false, kCanceled},
        {"NoParameters", R"({"method":"echo"})", true, "null\n"},
        {"ParametersEchoed", R"({"method":"echo","parameters":{"a":[1,"x"]}})", true, "{\"a\":[1,\"x\"]}\n"},
        {"Comments", "/* page */ {\"method\": \"echo\", // why\n \"parameters\": 7}", true, "7\n"},
        {"NestedWithinLimit", R"({"method":"echo","parameters":)" + nestedArrays(50) + "}", true,
         nestedArrays(50) + "\n"},
        {"MemberRead", R"({"method":"greet","parameters":{"name":"Ada"}})", true, "{\"greeting\":\"hello Ada\"}\n"},
        {"MemberAbsent", R"({"method":"greet","parameters":{}})", true, "{\"greeting\":\"hello \"}\n"},
        {"ParametersAbsentWhereMembersRead", R"({"method":"greet"})", true, "{\"greeting\":\"hello \"}\n"},
        {"ParametersArray", R"({"method":"greet","parameters":[1]})", false,
         kExceptionPrefix +
             "Json arg is missing or has wrong format. Func: fv_test::TwoMethodHandler::greet,  param: parameters"},
        {"ParametersText", R"({"method":"greet","parameters":"Ada"})", false,
         kExceptionPrefix +
             "Json arg is missing or has wrong format. Func: fv_test::TwoMethodHandler::greet,  param: parameters"},
        {"MemberMistyped", R"({"method":"greet","parameters":{"name":[1]}})", false,
         kExceptionPrefix + "Type is not convertible to string"},
    };
}

class QueryProtocol : public ::testing::TestWithParam<ProtocolCase> {};

TEST_P(QueryProtocol, AnswersOnceWithTheReplyOrTheFailure)
{
    fv_test::Watchdog watchdog("query protocol case");
    TwoMethodHandler handler;
    QueryRouterStub router(handler);

    const std::vector<QueryAnswer> answers = router.send(GetParam().request);

    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].success, GetParam().success);
    EXPECT_EQ(answers[0].text, GetParam().text);
    EXPECT_EQ(answers[0].code, GetParam().success ? 0 : -1);
}

INSTANTIATE_TEST_SUITE_P(Requests, QueryProtocol, ::testing::ValuesIn(protocolCases()),
                         [](const ::testing::TestParamInfo<ProtocolCase>& info) { return info.param.name; });

TEST(QueryHandlerBase, SupportedMethodsListsEveryMethodInByteOrder)
{
    TwoMethodHandler handler;
    QueryRouterStub router(handler);

    for (const char* parameters : {"", R"(,"parameters":[1,2])"}) {
        const std::vector<QueryAnswer> answers =
            router.send(std::string(R"({"method":"supportedMethods")") + parameters + "}");
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_TRUE(answers[0].success);
        EXPECT_EQ(answers[0].text, "[\"echo\",\"greet\",\"supportedMethods\"]\n");
    }
}

TEST(QueryHandlerBase, StillAnswersAfterEveryFailure)
{
    TwoMethodHandler handler;
    QueryRouterStub router(handler);
    for (const ProtocolCase& failing : protocolCases())
        router.send(failing.request);

    const std::vector<QueryAnswer> answers = router.send(R"({"method":"echo","parameters":1})");

    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].text, "1\n");
}

TEST(QueryHandlerBase, DeclinesAQueryWithoutCallback)
{
    TwoMethodHandler handler;

    EXPECT_FALSE(handler.OnQuery(nullptr, nullptr, 1, R"({"method":"echo"})", false, nullptr));
}

TEST(QueryHandlerBase, OffersNoInterfaceByDefault)
{
    TwoMethodHandler handler;

    for (int id : {1, 2, 4, 8, 0})
        EXPECT_TRUE(handler.getInterface(id).empty()) << id;
}

TEST(InvalidJsonBridgeParam, NamesTheFunctionAndTheParameter)
{
    const ferrovan::CInvalidJsonBridgeParam error("ferrovan::CX::f", "groupId");
    const ferrovan::CInvalidJsonBridgeParam copy(error);

    EXPECT_STREQ(copy.what(), "Json arg is missing or has wrong format. Func: ferrovan::CX::f,  param: groupId");
}

} // namespace
