#include "support/fixtures/TestBytes.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"
#include "support/net/HttpExchange.h"
#include "support/service/ByteCount.h"

#include <gtest/gtest.h>

#include <Poco/Pipe.h>
#include <Poco/PipeStream.h>
#include <Poco/Process.h>
#include <Poco/StreamCopier.h>

#include <json/json.h>

#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace fv_test;

namespace {

struct Answer {
    int status = 0;
    std::string body;
    Json::Value json;
};

Answer send(const std::string& method, const std::string& url, const std::string& body = "",
            const HttpFields& headers = {})
{
    HttpReply reply = httpExchange(method, url, body, headers);
    std::istringstream text(reply.body);
    Answer answer{reply.status, std::move(reply.body), Json::Value()};
    std::string errors;
    Json::parseFromStream(Json::CharReaderBuilder(), text, &answer.json, &errors);
    return answer;
}

// fv-testservice of this build as a child; killed and reaped with this object. Its stderr
// is the test's own, unless `captureErrors`.
class ServiceProgram {
public:
    ServiceProgram(const std::vector<std::string>& arguments, bool captureErrors)
        : m_process(Poco::Process::launch(FV_TESTSERVICE_PROGRAM, arguments, nullptr, &m_output,
                                          captureErrors ? &m_errors : nullptr)),
          m_out(m_output), m_err(m_errors)
    {
    }
    ~ServiceProgram()
    {
        if (Poco::Process::isRunning(m_process))
            Poco::Process::kill(m_process);
        if (!m_exit)
            m_process.wait();
    }
    ServiceProgram(const ServiceProgram&) = delete;
    ServiceProgram& operator=(const ServiceProgram&) = delete;

    // Output lines up to the ready line ("base URL: ..."), whose URL ends up in baseUrl;
    // every line when the program ends without one.
    std::vector<std::string> linesUntilReady()
    {
        std::vector<std::string> lines;
        const std::string ready = "base URL: ";
        for (std::string line; std::getline(m_out, line);) {
            if (line.compare(0, ready.size(), ready) == 0) {
                baseUrl = line.substr(ready.size());
                break;
            }
            lines.push_back(line);
        }
        return lines;
    }

    std::string errors()
    {
        std::string text;
        Poco::StreamCopier::copyToString(m_err, text);
        return text;
    }

    int terminate()
    {
        Poco::Process::requestTermination(m_process.id());
        return waitExit();
    }
    int waitExit()
    {
        m_exit = m_process.wait();
        return *m_exit;
    }

    std::string baseUrl;

private:
    Poco::Pipe m_output;
    Poco::Pipe m_errors;
    Poco::ProcessHandle m_process;
    Poco::PipeInputStream m_out;
    Poco::PipeInputStream m_err;
    std::optional<int> m_exit;
};

// "seeded <bucket>/<id> size=<n> digest=<digest>" lines by "<bucket>/<id>".
std::map<std::string, std::pair<uint64_t, std::string>> seededLines(const std::vector<std::string>& lines)
{
    std::map<std::string, std::pair<uint64_t, std::string>> seeded;
    for (const std::string& line : lines) {
        std::istringstream words(line);
        std::string word, name, size, digest;
        words >> word >> name >> size >> digest;
        if (word == "seeded" && size.rfind("size=", 0) == 0 && digest.rfind("digest=", 0) == 0)
            seeded[name] = {std::stoull(size.substr(5)), digest.substr(7)};
    }
    return seeded;
}

const char* const kSeed = R"({
  "buckets": [{"id": "B1", "token": "T1", "status": "EDITING", "uploadAllowed": false, "created": 1712345678}],
  "files": [
    {"bucket": "B1", "id": "plain", "size": "300K", "seed": 11},
    {"bucket": "B1", "id": "manifest", "size": 700000, "seed": 12, "digest": "manifest", "partSize": "256K"},
    {"bucket": "B1", "id": "parts", "source": "SOURCE", "digest": "parts", "partSize": 65536},
    {"bucket": "B1", "id": "none", "size": 10, "seed": 13, "digest": "none"}
  ]
})";

} // namespace

TEST(TestServiceSeeding, ByteCountsTakeBinarySuffixes)
{
    const std::vector<std::pair<std::string, std::optional<uint64_t>>> cases = {
        {"0", 0},
        {"12345", 12345},
        {"64K", 64 * 1024},
        {"64k", 64 * 1024},
        {"64M", 64ull << 20},
        {"4G", 4ull << 30},
        {"2T", 2ull << 40},
        {"3MiB", 3ull << 20},
        {"3KB", 3 * 1024},
        {"18446744073709551615", 18446744073709551615ull},
        {"18446744073709551616", std::nullopt},
        {"16777216T", std::nullopt},
        {"", std::nullopt},
        {"M", std::nullopt},
        {"1.5M", std::nullopt},
        {"-1", std::nullopt},
        {"10 M", std::nullopt},
        {"10P", std::nullopt},
        {"10Mx", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(parseByteCount(text), expected) << text;
}

// Every seeded thing answers through the service's own routes, from memory and from a data folder.
TEST(TestServiceSeeding, SeededBucketsFilesAndUsersAreServedAsTheSeedSays)
{
    for (const bool dataDirectory : {false, true}) {
        SCOPED_TRACE(dataDirectory ? "data folder" : "memory");
        Watchdog watchdog("seeded service", std::chrono::seconds(60));
        TempDir folder;
        const std::string source = patternedBytes(200000, 21);
        writeFile(folder.file("source"), source);
        std::string seed = kSeed;
        seed.replace(seed.find("SOURCE"), 6, folder.file("source"));
        writeFile(folder.file("seed.json"), seed);
        std::vector<std::string> arguments = {"--port", "0",          "--seed", folder.file("seed.json"),
                                              "--user", "ann:se:cret"};
        if (dataDirectory)
            arguments.insert(arguments.end(), {"--data-dir", folder.file("objects")});

        ServiceProgram program(arguments, false);
        const auto seeded = seededLines(program.linesUntilReady());
        ASSERT_FALSE(program.baseUrl.empty());
        const std::string base = program.baseUrl;

        const Answer bucket = send("GET", base + "/api/v2/bucket/B1?token=T1");
        ASSERT_EQ(bucket.status, 200) << bucket.body;
        EXPECT_EQ(bucket.json["bucket"]["status"].asString(), "EDITING");
        EXPECT_FALSE(bucket.json["bucket"]["uploadAllowed"].asBool());
        EXPECT_EQ(bucket.json["bucket"]["created"].asUInt64(), 1712345678000u);

        const std::map<std::string, std::string> contents = {{"plain", patternedBytes(300 * 1024, 11)},
                                                             {"manifest", patternedBytes(700000, 12)},
                                                             {"parts", source},
                                                             {"none", patternedBytes(10, 13)}};
        ASSERT_EQ(seeded.size(), contents.size());
        EXPECT_EQ(seeded.at("B1/plain").second, md5Hex(contents.at("plain")));
        EXPECT_EQ(seeded.at("B1/manifest").second.substr(32), "-3");
        EXPECT_EQ(seeded.at("B1/parts").second.substr(32), "-4");
        EXPECT_EQ(seeded.at("B1/none").second, "");
        for (const auto& [id, content] : contents) {
            SCOPED_TRACE(id);
            EXPECT_EQ(seeded.at("B1/" + id).first, content.size());
            const Answer details =
                send("GET", base + "/api/v2/bucket/B1/file/" + id + "/download?token=T1&action=DOWNLOAD");
            ASSERT_EQ(details.status, 200) << details.body;
            EXPECT_EQ(details.json["file"]["md5Digest"].asString(), seeded.at("B1/" + id).second);
            const Answer download = send("GET", details.json["url"].asString());
            EXPECT_EQ(download.status, 200);
            EXPECT_TRUE(download.body == content) << download.body.size() << " bytes";
            EXPECT_EQ(details.json["multipartManifestUrl"].asString().empty(), id != "manifest");
        }

        const Answer manifest = send("GET", base + "/api/v2/bucket/B1/file/manifest/manifest?token=T1");
        ASSERT_EQ(manifest.status, 200);
        EXPECT_EQ(manifest.json["eTag"].asString(), seeded.at("B1/manifest").second);
        ASSERT_EQ(manifest.json["parts"].size(), 3u);
        EXPECT_EQ(manifest.json["parts"][2]["size"].asUInt64(), 700000u - 2 * 256 * 1024);
        EXPECT_EQ(manifest.json["parts"][2]["eTag"].asString(), md5Hex(contents.at("manifest").substr(2 * 256 * 1024)));

        EXPECT_EQ(send("POST", base + "/login", R"({"userId":"ann","password":"se:cret"})").status, 200);
        EXPECT_EQ(send("POST", base + "/login", R"({"userId":"ann","password":"se"})").status, 401);
        EXPECT_EQ(program.terminate(), 0);
    }
}

TEST(TestServiceSeeding, BadSeedFilesAndOptionsEndTheProgramBeforeItServes)
{
    struct Case {
        const char* name;
        std::string seed; // empty: no seed file; "MISSING": a seed file that does not exist
        std::vector<std::string> arguments;
        const char* message; // part of what stderr says
    };
    const std::string bucket = R"("buckets":[{"id":"B","token":"T"}])";
    const std::vector<Case> cases = {
        {"not JSON", "{\"buckets\": [", {}, "not valid JSON"},
        {"root not an object", "[]", {}, "must be a JSON object"},
        {"unknown digest form",
         "{" + bucket + R"(,"files":[{"bucket":"B","id":"f","size":1,"seed":1,"digest":"sha1"}]})",
         {},
         "\"digest\" must be plain, parts, manifest or none"},
        {"missing token", R"({"buckets":[{"id":"B"}]})", {}, "buckets[0]: missing \"token\""},
        {"missing seed", "{" + bucket + R"(,"files":[{"bucket":"B","id":"f","size":1}]})", {}, "missing \"seed\""},
        {"parts without a part size",
         "{" + bucket + R"(,"files":[{"bucket":"B","id":"f","size":1,"seed":1,"digest":"parts"}]})",
         {},
         "missing \"partSize\""},
        {"bad size", "{" + bucket + R"(,"files":[{"bucket":"B","id":"f","size":"lots","seed":1}]})", {}, "\"size\""},
        {"unreadable source",
         "{" + bucket + R"(,"files":[{"bucket":"B","id":"f","source":"/nonexistent/x"}]})",
         {},
         "cannot read the source file /nonexistent/x"},
        {"unknown bucket",
         "{" + bucket + R"(,"files":[{"bucket":"C","id":"f","size":1,"seed":1}]})",
         {},
         "no bucket \"C\""},
        {"unknown member",
         "{" + bucket + R"(,"files":[{"bucket":"B","id":"f","size":1,"seed":1,"sead":2}]})",
         {},
         "unknown member \"sead\""},
        {"seed file missing", "MISSING", {}, "cannot read the seed file"},
        {"bad rate", "", {"--conn-rate", "fast"}, "usage:"},
        {"user without password", "", {"--user", "ann"}, "usage:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Watchdog watchdog(c.name, std::chrono::seconds(30));
        TempDir folder;
        std::vector<std::string> arguments = {"--port", "0"};
        if (!c.seed.empty()) {
            if (c.seed != "MISSING")
                writeFile(folder.file("seed.json"), c.seed);
            arguments.insert(arguments.end(), {"--seed", folder.file("seed.json")});
        }
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        ServiceProgram program(arguments, true);
        const std::vector<std::string> lines = program.linesUntilReady();
        EXPECT_TRUE(program.baseUrl.empty());
        EXPECT_TRUE(lines.empty());
        EXPECT_NE(program.errors().find(c.message), std::string::npos);
        EXPECT_EQ(program.waitExit(), 2);
    }
}

namespace {

std::string write(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

// Adds a file of 3 bytes to B1 as a logged-in user, uploads it in one part and completes the
// upload twice; the statuses of the two completes.
std::pair<int, int> uploadAndCompleteTwice(const std::string& base)
{
    const Answer login = send("POST", base + "/login", R"({"userId":"ann","password":"pw"})");
    const HttpFields auth = {{"x-fv-auth-token", login.json["token"].asString()}};
    const Answer added =
        send("POST", base + "/api/v2/bucket/B1/files",
             R"({"bucketId":"B1","token":"T1","uploader":"DESKTOP","files":[{"name":"a","size":3}]})", auth);
    const std::string fileId = added.json["files"][0]["file"]["id"].asString();
    const std::string multipart = base + "/api/v2/bucket/B1/file/" + fileId + "/upload/multipart/";
    Json::Value call;
    call["bucketId"] = "B1";
    call["fileId"] = fileId;
    call["token"] = "T1";
    Json::Value initialize = call;
    initialize["size"] = 3;
    initialize["md5Digest"] = Json::Value();
    initialize["uploadId"] = Json::Value();
    initialize["uploader"] = "DESKTOP";
    initialize["parts"][0]["number"] = 1;
    initialize["parts"][0]["size"] = 3;
    initialize["parts"][0]["md5Digest"] = Json::Value();
    const Answer initialized = send("POST", multipart + "initialize", write(initialize));
    const Json::Value& part = initialized.json["partUploadDetails"][0];
    EXPECT_EQ(send("PUT", part["url"].asString(), "abc", {{"x-fv-part-number", "1"}}).status, 200);
    call["uploadId"] = initialized.json["uploadId"];
    call["numberOfParts"] = 1;
    const int first = send("POST", multipart + "complete", write(call)).status;
    return {first, send("POST", multipart + "complete", write(call)).status};
}

} // namespace

TEST(TestServiceSeeding, CompleteOnceAnswersARepeatedMultipartCompleteWith404)
{
    for (const bool completeOnce : {false, true}) {
        SCOPED_TRACE(completeOnce ? "--complete-once" : "default");
        Watchdog watchdog("complete twice", std::chrono::seconds(30));
        TempDir folder;
        writeFile(folder.file("seed.json"), R"({"buckets": [{"id": "B1", "token": "T1"}]})");
        std::vector<std::string> arguments = {"--port", "0", "--seed", folder.file("seed.json"), "--user", "ann:pw"};
        if (completeOnce)
            arguments.push_back("--complete-once");
        ServiceProgram program(arguments, false);
        program.linesUntilReady();
        ASSERT_FALSE(program.baseUrl.empty());
        EXPECT_EQ(uploadAndCompleteTwice(program.baseUrl), std::make_pair(200, completeOnce ? 404 : 200));
        EXPECT_EQ(program.terminate(), 0);
    }
}
