#include "JsonText.h"
#include "bridge/InvalidJsonBridgeParam.h"
#include "bridge/TransferJson.h"
#include "shell/FerrovanLogger.h"

#include "support/fixtures/TestEnvironment.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using fv_transfers::CTransferManagerBase;
using fv_transfers::CUploadManager;
using fv_transfers::FileDownloadDetails;

constexpr const char* kFunction = "ferrovan::CQueryHandlerDownloadManager::setConfiguration";

struct ConfigCase {
    const char* name;
    std::string request;
    // The failure's text, or what the configuration reads afterwards.
    std::optional<std::string> failure;
    std::uint32_t connectionTimeoutMs;
    std::uint32_t maxConcurrentTransfers;
};

void PrintTo(const ConfigCase& c, std::ostream* out)
{
    *out << c.name;
}

const std::uint32_t kDefaultTimeoutMs = CTransferManagerBase::Configuration().connectionTimeoutMs;
const std::uint32_t kDefaultConcurrent = CTransferManagerBase::Configuration().maxConcurrentTransfers;

std::vector<ConfigCase> configCases()
{
    const std::string timeoutRefused =
        std::string("Json arg is missing or has wrong format. Func: ") + kFunction + ",  param: connectionTimeoutSec";
    return {
        {"Seconds", R"({"connectionTimeoutSec":45})", std::nullopt, 45000, kDefaultConcurrent},
        {"Empty", "{}", std::nullopt, kDefaultTimeoutMs, kDefaultConcurrent},
        {"FractionRoundsDown", R"({"maxConcurrentTransfers":2.7})", std::nullopt, kDefaultTimeoutMs, 2},
        {"TrueIsOne", R"({"maxConcurrentTransfers":true})", std::nullopt, kDefaultTimeoutMs, 1},
        {"LargestTimeout", R"({"connectionTimeoutSec":4294967})", std::nullopt, 4294967000u, kDefaultConcurrent},
        {"Negative", R"({"maxConcurrentTransfers":-1,"connectionTimeoutSec":45})", "LargestInt out of UInt range",
         kDefaultTimeoutMs, kDefaultConcurrent},
        {"Text", R"({"connectionTimeoutSec":"x"})", "Value is not convertible to UInt.", kDefaultTimeoutMs,
         kDefaultConcurrent},
        {"TimeoutWouldWrap", R"({"maxConcurrentTransfers":5,"connectionTimeoutSec":4294968})", timeoutRefused,
         kDefaultTimeoutMs, kDefaultConcurrent},
        {"TimeoutFarOut", R"({"connectionTimeoutSec":5000000})", timeoutRefused, kDefaultTimeoutMs, kDefaultConcurrent},
    };
}

class Config : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(Config, AppliesEveryMemberOrNothing)
{
    CTransferManagerBase::Configuration configuration;
    std::string failure;
    try {
        ferrovan::configurationFromJson(fv_test::parseJson(GetParam().request), configuration, kFunction);
    } catch (const std::exception& e) {
        failure = e.what();
    }

    EXPECT_EQ(failure, GetParam().failure.value_or(""));
    EXPECT_EQ(configuration.connectionTimeoutMs, GetParam().connectionTimeoutMs);
    EXPECT_EQ(configuration.maxConcurrentTransfers, GetParam().maxConcurrentTransfers);
}

INSTANTIATE_TEST_SUITE_P(Requests, Config, ::testing::ValuesIn(configCases()),
                         [](const ::testing::TestParamInfo<ConfigCase>& info) { return info.param.name; });

TEST(ConfigJson, WritesWholeSecondsAndEveryMember)
{
    CUploadManager::Configuration configuration;
    configuration.connectionTimeoutMs = 1500;
    configuration.sendTimeoutMs = 45000;
    configuration.receiveTimeoutMs = 999;
    configuration.minMultipartSize = 6ull << 30;
    configuration.throttleBytesPerSecond = 1ull << 33;
    configuration.serverTransferProgressInterval = 2500;
    Json::Value json;

    ferrovan::configurationToJson(configuration, json);

    EXPECT_EQ(json["connectionTimeoutSec"].asUInt(), 1u);
    EXPECT_EQ(json["sendTimeoutSec"].asUInt(), 45u);
    EXPECT_EQ(json["recvTimeoutSec"].asUInt(), 0u);
    EXPECT_EQ(json["minMultipartSize"].asUInt64(), 6ull << 30);
    EXPECT_EQ(json["throttleBytesPerSecond"].asUInt64(), 1ull << 33);
    EXPECT_EQ(json["serverTransferProgressInterval"].asUInt(), 2500u);
    EXPECT_EQ(json.getMemberNames(),
              (std::vector<std::string>{"connectionTimeoutSec", "maxConcurrentTransfers", "maxTransferRetries",
                                        "minMultipartSize", "preventSleep", "recvTimeoutSec", "sendTimeoutSec",
                                        "serverTransferProgressInterval", "throttleBytesPerSecond", "verifyUploads"}));
}

TEST(ConfigJson, ARoundTripKeepsWhatThePageSet)
{
    CUploadManager::Configuration configuration;
    ferrovan::configurationFromJson(
        fv_test::parseJson(
            R"({"maxConcurrentTransfers":4,"minMultipartSize":5242880,"maxTransferRetries":7,"verifyUploads":true,
                  "preventSleep":false,"throttleBytesPerSecond":1000,"connectionTimeoutSec":45,"sendTimeoutSec":10,
                  "recvTimeoutSec":20,"serverTransferProgressInterval":700})"),
        configuration, kFunction);
    Json::Value json;
    ferrovan::configurationToJson(configuration, json);

    EXPECT_EQ(fv_test::compactJson(json),
              fv_test::compactJson(
                  fv_test::parseJson(R"({"maxConcurrentTransfers":4,"minMultipartSize":5242880,"maxTransferRetries":7,
                              "verifyUploads":true,"preventSleep":false,"throttleBytesPerSecond":1000,
                              "connectionTimeoutSec":45,"sendTimeoutSec":10,"recvTimeoutSec":20,
                              "serverTransferProgressInterval":700})")));
}

struct GroupIdCase {
    const char* name;
    std::string parameters;
    std::optional<int> id; // none: refused
};

void PrintTo(const GroupIdCase& c, std::ostream* out)
{
    *out << c.name;
}

class GroupId : public ::testing::TestWithParam<GroupIdCase> {};

TEST_P(GroupId, IsAnIntegerOrItsDecimalText)
{
    const Json::Value parameters = fv_test::parseJson(GetParam().parameters);
    if (GetParam().id) {
        EXPECT_EQ(ferrovan::groupIdFromParams(parameters, "f"), *GetParam().id);
        return;
    }
    try {
        ferrovan::groupIdFromParams(parameters, "ferrovan::CX::pauseGroup");
        ADD_FAILURE() << "accepted";
    } catch (const ferrovan::CInvalidJsonBridgeParam& e) {
        EXPECT_STREQ(e.what(),
                     "Json arg is missing or has wrong format. Func: ferrovan::CX::pauseGroup,  param: groupId");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, GroupId,
    ::testing::Values(GroupIdCase{"Text", R"({"groupId":"5"})", 5}, GroupIdCase{"Number", R"({"groupId":5})", 5},
                      GroupIdCase{"Zero", R"({"groupId":0})", 0}, GroupIdCase{"WholeDouble", R"({"groupId":7.0})", 7},
                      GroupIdCase{"NegativeText", R"({"groupId":"-1"})", -1},
                      GroupIdCase{"TextWithTail", R"({"groupId":"5abc"})", std::nullopt},
                      GroupIdCase{"Fraction", R"({"groupId":5.9})", std::nullopt},
                      GroupIdCase{"Word", R"({"groupId":"x"})", std::nullopt},
                      GroupIdCase{"EmptyText", R"({"groupId":""})", std::nullopt},
                      GroupIdCase{"Spaced", R"({"groupId":" 5"})", std::nullopt},
                      GroupIdCase{"Plus", R"({"groupId":"+5"})", std::nullopt},
                      GroupIdCase{"TooLarge", R"({"groupId":"99999999999"})", std::nullopt},
                      GroupIdCase{"Missing", R"({})", std::nullopt}, GroupIdCase{"NoParameters", "null", std::nullopt},
                      GroupIdCase{"Bool", R"({"groupId":true})", std::nullopt},
                      GroupIdCase{"Array", R"({"groupId":[]})", std::nullopt}),
    [](const ::testing::TestParamInfo<GroupIdCase>& info) { return info.param.name; });

TEST(StateNames, GroupAndFileCodesHaveThePagesNames)
{
    const std::vector<std::string> groups{"UNKNWON", "TRANSFERRING", "ERRORED", "COMPLETED", "PAUSED", "UNKNWON"};
    for (int code = 0; code <= 5; ++code)
        EXPECT_EQ(ferrovan::transferStateName(code), groups[code]) << code;

    const std::vector<std::string> files{"TRANSFERRING", "COMPLETED", "ERRORED", "PAUSED", "UNKNWON"};
    for (int code = 0; code <= 4; ++code) {
        CTransferManagerBase::FileState state;
        state.state = code;
        Json::Value json;
        ferrovan::fileStateToJson(state, json);
        EXPECT_EQ(json["type"].asString(), files[code]) << code;
        EXPECT_EQ(json["state"]["type"].asString(), files[code]) << code;
    }
}

TEST(StateJson, FileAndGroupRecordsInThePagesShape)
{
    CTransferManagerBase::FileState file;
    file.id = 3;
    file.bucketId = "B";
    file.fileId = "F";
    file.state = CTransferManagerBase::FILE_COMPLETED;
    file.bytesTransferred = 5ull << 32;
    file.bytesTotal = 5ull << 32;
    file.percentTransferred = 100;
    Json::Value fileJson;
    ferrovan::fileStateToJson(file, fileJson);
    EXPECT_EQ(fv_test::compactJson(fileJson),
              fv_test::compactJson(fv_test::parseJson(R"({"id":"3","bucketId":"B","fileId":"F","type":"COMPLETED",
        "state":{"type":"COMPLETED","bytesTransfered":21474836480,"bytesTotal":21474836480,"percentTransferred":100.0}})")));

    CUploadManager::GroupState group;
    group.id = 0;
    group.state = CTransferManagerBase::GROUP_PAUSED;
    group.bucketId = "B";
    group.bucketType = "MESSAGE";
    group.bytesTransferred = 10;
    group.bytesTotal = 40;
    group.percentTransferred = 25;
    group.bytesTransferredPerSecond = 7;
    group.estimatedEta = 1700000000000ull;
    group.paused = true;
    group.empty = false;
    group.marked = true;
    Json::Value groupJson;
    ferrovan::groupStateToJson(group, groupJson);
    EXPECT_EQ(fv_test::compactJson(groupJson),
              fv_test::compactJson(
                  fv_test::parseJson(R"({"id":"0","type":"PAUSED","bucketId":"B","bucketType":"MESSAGE","paused":true,
        "empty":false,"bytesTransferred":10,"bytesTotal":40,"percentTransferred":25.0,"bytesTransferredPerSecond":7,
        "estimatedEta":1700000000000,"cancelled":false,"marked":true})")));

    const Json::Value event = ferrovan::groupEventJson(group, groupJson);
    EXPECT_EQ(event.getMemberNames(), (std::vector<std::string>{"bucketId", "id", "state", "type"}));
    EXPECT_EQ(event["id"], "0");
    EXPECT_EQ(event["type"], "PAUSED");
    EXPECT_EQ(fv_test::compactJson(event["state"]), fv_test::compactJson(groupJson));
}

struct FilesCase {
    const char* name;
    std::string element;
    bool kept;
};

void PrintTo(const FilesCase& c, std::ostream* out)
{
    *out << c.name;
}

// The program's log in a folder of the test's own.
class DownloadFileJson : public ::testing::Test {
protected:
    void SetUp() override { ferrovan::CFerrovanLogger::setLogFilePath(m_dir.file("fv_app.log")); }
    void TearDown() override { ferrovan::CFerrovanLogger::destroyInstance(); }

    fv_test::TempDir m_dir;
};

class DownloadFiles : public DownloadFileJson, public ::testing::WithParamInterface<FilesCase> {};

TEST_P(DownloadFiles, ElementsWithoutIdOrDetailsAreDropped)
{
    FileDownloadDetails file;
    EXPECT_EQ(ferrovan::downloadFileFromJson(fv_test::parseJson(GetParam().element), file), GetParam().kept);
}

INSTANTIATE_TEST_SUITE_P(
    Elements, DownloadFiles,
    ::testing::Values(FilesCase{"Complete", R"({"id":"F","downloadDetails":{"url":"http://h/x","expires":9}})", true},
                      FilesCase{"NoMembers", "{}", true}, FilesCase{"NumericId", R"({"id":12})", true},
                      FilesCase{"ObjectId", R"({"id":{"a":1}})", false}, FilesCase{"ArrayId", R"({"id":[]})", false},
                      FilesCase{"DetailsText", R"({"id":"F","downloadDetails":"x"})", false},
                      FilesCase{"DetailsArray", R"({"id":"F","downloadDetails":[1]})", false},
                      FilesCase{"UrlObject", R"({"id":"F","downloadDetails":{"url":{}}})", false},
                      FilesCase{"ExpiresNegative", R"({"id":"F","downloadDetails":{"expires":-5}})", false},
                      FilesCase{"ElementNumber", "5", false}, FilesCase{"ElementText", R"("F")", false}),
    [](const ::testing::TestParamInfo<FilesCase>& info) { return info.param.name; });

TEST_F(DownloadFileJson, MistypedMembersReadEmptyAndTheErrorIsLogged)
{
    FileDownloadDetails file;
    ASSERT_TRUE(ferrovan::downloadFileFromJson(
        fv_test::parseJson(R"({"id":"F","path":["x"],"size":-1,"modified":"soon","md5Digest":{},
                  "downloadDetails":{"url":"http://h/x?sig=1","expires":9}})"),
        file));
    EXPECT_EQ(file.id, "F");
    EXPECT_TRUE(file.path.empty());
    EXPECT_EQ(file.size, 0u);
    EXPECT_EQ(file.modified, 0u);
    EXPECT_TRUE(file.md5Digest.empty());
    EXPECT_EQ(file.downloadDetails.url, "http://h/x?sig=1");
    EXPECT_EQ(file.downloadDetails.expires, 9u);

    ASSERT_TRUE(ferrovan::downloadFileFromJson(
        fv_test::parseJson(R"({"id":"G","path":"sub/é.txt","size":12,"modified":1600000000000,"md5Digest":"ab"})"),
        file));
    EXPECT_EQ(file.path, L"sub/\u00e9.txt");
    EXPECT_EQ(file.size, 12u);
    EXPECT_EQ(file.modified, 1600000000000u);

    EXPECT_FALSE(ferrovan::downloadFileFromJson(fv_test::parseJson(R"({"id":"H","downloadDetails":7})"), file));
    ferrovan::CFerrovanLogger::destroyInstance();
    EXPECT_NE(fv_test::readFile(m_dir.file("fv_app.log"))
                  .find("Exception caught when trying to obtain download url from json: "),
              std::string::npos);
}

} // namespace
