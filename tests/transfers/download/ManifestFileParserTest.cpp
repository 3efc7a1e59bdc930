#include "core/config/FvTransfersGlobalConfig.h"
#include "core/http/FetchUrlContent.h"
#include "core/rest/RestApiDownloadDetails.h"
#include "download/ManifestFileParser.h"

#include "support/fixtures/LogCapture.h"
#include "support/fixtures/TestBytes.h"
#include "support/fixtures/TransportTest.h"
#include "support/service/RestRoutes.h"
#include "support/service/TestService.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace fv_transfers;

namespace {

const std::string kPartTag = "0123456789abcdef0123456789abcdef";

std::string part(const std::string& number, const std::string& size, const std::string& eTag = "\"" + kPartTag + "\"")
{
    return "{\"number\":" + number + ",\"size\":" + size + ",\"eTag\":" + eTag + "}";
}

std::string manifest(const std::vector<std::string>& parts, const std::string& eTag = "\"file-tag-3\"")
{
    std::string list;
    for (const std::string& one : parts)
        list += (list.empty() ? "" : ",") + one;
    return "{\"parts\":[" + list + "],\"eTag\":" + eTag + "}";
}

DownloadManifest sentinel()
{
    return DownloadManifest{{ManifestPart{7, 7, "untouched"}}, "untouched"};
}

} // namespace

TEST(ManifestFileParser, RejectsEmptyMalformedAndInconsistentManifests)
{
    struct Case {
        const char* name;
        std::string text;
        unsigned expected;
        std::string logged;
    };
    const std::string one = part("1", "10");
    const std::vector<Case> cases = {
        {"empty text", "", 1, "Empty content passed to manifest file parser!"},
        {"not JSON", "{\"parts\": [", 2, "Failed to parse manifest file, invalid json!"},
        {"trailing garbage", manifest({one}) + "x", 2, "invalid json"},
        {"array at top level", "[" + one + "]", 2, "key doesn't exist or has wrong format: parts"},
        {"number at top level", "5", 2, "key doesn't exist or has wrong format: parts"},
        {"empty object", "{}", 2, "key doesn't exist or has wrong format: parts"},
        {"parts not an array", "{\"parts\":{},\"eTag\":\"x\"}", 2, "key doesn't exist or has wrong format: parts"},
        {"empty parts", manifest({}), 2, "parts array is empty"},
        {"part not an object", manifest({one, "3"}), 2, "part with index 1 is not an object!"},
        {"size missing", manifest({"{\"number\":1,\"eTag\":\"a\"}"}), 2, "wrong format: size"},
        {"size negative", manifest({part("1", "-1")}), 2, "wrong format: size"},
        {"size fractional", manifest({part("1", "1.5")}), 2, "wrong format: size"},
        {"size a string", manifest({part("1", "\"10\"")}), 2, "wrong format: size"},
        {"size zero", manifest({part("1", "0")}), 2, "part has zero size!"},
        {"number missing", manifest({"{\"size\":1,\"eTag\":\"a\"}"}), 2, "wrong format: number"},
        {"number over 32 bits", manifest({part("4294967296", "10")}), 2, "wrong format: number"},
        {"number negative", manifest({part("-1", "10")}), 2, "wrong format: number"},
        {"number fractional", manifest({part("1.5", "10")}), 2, "wrong format: number"},
        {"number a bool", manifest({part("true", "10")}), 2, "wrong format: number"},
        {"number zero", manifest({part("0", "10")}), 2, "part number 0 is outside 1..1"},
        {"number 4294967295 of one", manifest({part("4294967295", "10")}), 2, "part number 4294967295 is outside"},
        {"duplicate number", manifest({one, part("1", "10")}), 2, "part number 1 appears more than once"},
        {"gap", manifest({one, part("3", "10")}), 2, "part number 3 is outside 1..2"},
        {"sizes overflow", manifest({part("1", "18446744073709551615"), part("2", "1")}), 2, "does not fit in 64 bits"},
        {"part eTag missing", manifest({"{\"number\":1,\"size\":1}"}), 2, "wrong format: eTag"},
        {"part eTag a number", manifest({part("1", "10", "5")}), 2, "wrong format: eTag"},
        {"part eTag empty", manifest({part("1", "10", "\"\"")}), 2, "checksum of part is empty!"},
        {"file eTag missing", "{\"parts\":[" + one + "]}", 2, "wrong format: eTag"},
        {"file eTag null", manifest({one}, "null"), 2, "wrong format: eTag"},
        {"file eTag empty", manifest({one}, "\"\""), 2, "File MD5 checksum is empty"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fv_test::LogCapture log;
        DownloadManifest result = sentinel();
        EXPECT_EQ(CManifestFileParser::parse(c.text, result), c.expected);
        EXPECT_EQ(log.count(c.logged), 1) << log.text();
        EXPECT_EQ(result.eTag, "untouched");
        ASSERT_EQ(result.parts.size(), 1u);
        EXPECT_EQ(result.parts[0].eTag, "untouched");
    }
}

TEST(ManifestFileParser, AcceptsWholeNumbersInAnyFormAndKeepsArrayOrder)
{
    struct Case {
        const char* name;
        std::string text;
        std::vector<ManifestPart> parts;
    };
    const std::vector<Case> cases = {
        {"one part", manifest({part("1", "5")}), {{1, 5, kPartTag}}},
        {"integral reals", manifest({part("1.0", "5.0")}), {{1, 5, kPartTag}}},
        {"exponent", manifest({part("1", "1e3")}), {{1, 1000, kPartTag}}},
        {"largest size", manifest({part("1", "18446744073709551615")}), {{1, UINT64_MAX, kPartTag}}},
        {"several, out of order",
         manifest({part("3", "7", "\"c\""), part("1", "16777216", "\"a\""), part("2", "16777216", "\"b\"")}),
         {{3, 7, "c"}, {1, 16777216, "a"}, {2, 16777216, "b"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DownloadManifest result;
        ASSERT_EQ(CManifestFileParser::parse(c.text, result), 0u);
        EXPECT_EQ(result.eTag, "file-tag-3");
        ASSERT_EQ(result.parts.size(), c.parts.size());
        for (size_t i = 0; i < c.parts.size(); ++i) {
            EXPECT_EQ(result.parts[i].number, c.parts[i].number) << i;
            EXPECT_EQ(result.parts[i].size, c.parts[i].size) << i;
            EXPECT_EQ(result.parts[i].eTag, c.parts[i].eTag) << i;
        }
    }
}

TEST(ManifestFileParser, NumberAtTheTopOfItsRangeIsAccepted)
{
    // 4294967295 fits the part number; with that many parts it is the last one. The numbering
    // check is reached only through parseParts, so the boundary of the type is checked here.
    ManifestPart result;
    Json::Value value;
    value["number"] = Json::UInt64(4294967295u);
    value["size"] = 1;
    value["eTag"] = "a";
    EXPECT_EQ(CManifestFileParser::parsePart(value, result), 0u);
    EXPECT_EQ(result.number, 4294967295u);
    value["number"] = Json::UInt64(4294967296u);
    EXPECT_EQ(CManifestFileParser::parsePart(value, result), 2u);
    EXPECT_EQ(result.number, 4294967295u);
}

TEST(ManifestFileParser, IgnoresUnknownMembers)
{
    DownloadManifest result;
    const std::string text = "{\"version\":2,\"parts\":[{\"number\":1,\"size\":3,\"eTag\":\"a\",\"extra\":[]}],"
                             "\"eTag\":\"f\",\"more\":null}";
    ASSERT_EQ(CManifestFileParser::parse(text, result), 0u);
    EXPECT_EQ(result.parts.at(0).size, 3u);
}

// What a download file does with the service's answer: details, then the manifest they point to.
TEST(ManifestFileParser, ReadsTheManifestTheServiceListsThroughTheRestClient)
{
    fv_test::prepareTransportTest();
    fv_test::TestService service;
    fv_test::RestRoutes rest(service);
    fv_transfers::CFvTransfersGlobalConfig::getInstance()->setRestEndPointUrl(service.baseUrl());
    rest.addBucket("B1", "T1");
    const std::string content = fv_test::patternedBytes(3000);
    fv_test::MultipartLayout layout;
    layout.partSizes = fv_test::RestRoutes::evenParts(content.size(), 1024);
    layout.manifestOrder = {2, 3, 1};
    rest.addMultipartFile("B1", "F1", content, layout);

    fv_transfers::CRestApiDownloadDetails call;
    fv_transfers::RestDownloadDetails details;
    ASSERT_EQ(fv_transfers::dt_success, call.execute({"B1", "F1", "T1"}));
    ASSERT_EQ(fv_transfers::dt_success, call.getResult(details));
    std::string text;
    ASSERT_EQ(fv_transfers::dt_success, fv_transfers::fetchUrlContent(details.multipartManifestUrl, text));
    fv_transfers::DownloadManifest manifest;
    ASSERT_EQ(fv_transfers::CManifestFileParser::kSuccess, fv_transfers::CManifestFileParser::parse(text, manifest));

    ASSERT_EQ(3u, manifest.parts.size());
    const std::vector<uint64_t> offsets = {0, 1024, 2048};
    for (const auto& part : manifest.parts) {
        EXPECT_EQ(layout.partSizes[part.number - 1], part.size);
        EXPECT_EQ(fv_test::md5Hex(content.substr(offsets[part.number - 1], part.size)), part.eTag);
    }
    EXPECT_EQ(2u, manifest.parts[0].number);
    EXPECT_EQ(details.md5Digest, manifest.eTag);
    EXPECT_EQ("-3", details.md5Digest.substr(details.md5Digest.size() - 2));
}
