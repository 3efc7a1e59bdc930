// fv-bench-transport: moves one object with the library's HTTP transport and reports the rate.
//
//   fv-bench-transport download URL OUT [--md5 HEX] [--buffer BYTES] [--ca FILE] [--log-dir DIR] [--no-verify]
//   fv-bench-transport upload URL FILE [--ca FILE] [--log-dir DIR] [--no-verify]
//
// download: one GET over one connection, the body read into a fixed buffer and written to OUT
// (created or truncated) through CFilePosix; then the MD5 of OUT is checked against --md5.
// upload: the whole FILE as the body of one request through CSimpleFileUploader; when the
// service stores it, the object is read back and its MD5 compared with the file's.
// The rate covers connect to last byte; verification runs after the clock stops. The result is
// one line of key=value pairs on stdout; the exit status is 0 only when the transfer worked and
// nothing failed verification.

#include "core/base/StringConversion.h"
#include "core/config/FvTransfersGlobalConfig.h"
#include "core/files/FileDigest.h"
#include "core/files/linux/FilePosix.h"
#include "core/http/CurlConnection.h"
#include "core/http/CurlGlobal.h"
#include "core/http/FullHttpBodyRetriever.h"
#include "core/http/HttpResponseFetcher.h"
#include "core/http/SimpleFileUploader.h"

#include <Poco/MD5Engine.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/NumberParser.h>
#include <Poco/Path.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace fv_transfers;

namespace {

constexpr std::size_t kDefaultBufferSize = 256 * 1024;

struct Options {
    std::string command;
    std::string url;
    std::string path;
    std::string expectedMd5;
    std::string caFile;
    std::string logDirectory = Poco::Path::temp();
    std::size_t bufferSize = kDefaultBufferSize;
    bool verify = true;
};

int usage()
{
    std::cerr << "usage: fv-bench-transport download URL OUT [--md5 HEX] [--buffer BYTES] [--ca FILE] [--log-dir DIR] "
                 "[--no-verify]\n"
                 "       fv-bench-transport upload URL FILE [--ca FILE] [--log-dir DIR] [--no-verify]\n";
    return 2;
}

std::optional<Options> parseOptions(int argc, char** argv)
{
    if (argc < 4)
        return std::nullopt;
    Options options;
    options.command = argv[1];
    options.url = argv[2];
    options.path = argv[3];
    if (options.command != "download" && options.command != "upload")
        return std::nullopt;
    for (int i = 4; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--no-verify") {
            options.verify = false;
        } else if (arg == "--md5" && hasValue) {
            options.expectedMd5 = argv[++i];
        } else if (arg == "--ca" && hasValue) {
            options.caFile = argv[++i];
        } else if (arg == "--log-dir" && hasValue) {
            options.logDirectory = argv[++i];
        } else if (arg == "--buffer" && hasValue) {
            Poco::UInt64 size = 0;
            if (!Poco::NumberParser::tryParseUnsigned64(argv[++i], size) || size == 0 || size > (1u << 30))
                return std::nullopt;
            options.bufferSize = static_cast<std::size_t>(size);
        } else {
            return std::nullopt;
        }
    }
    return options;
}

class Stopwatch {
public:
    double seconds() const { return std::chrono::duration<double>(Clock::now() - m_start).count(); }

private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point m_start = Clock::now();
};

void printResult(const std::string& command, std::uint64_t bytes, double seconds, const std::string& verdict)
{
    std::cout << command << " bytes=" << bytes << " seconds=" << std::fixed << std::setprecision(3) << seconds
              << " MB/s=" << std::setprecision(1) << (seconds > 0 ? bytes / seconds / 1e6 : 0.0) << " " << verdict
              << std::endl;
}

// Receives the body of a GET of `url` into one fixed buffer, handing each piece to `sink`.
// False (with the reason on stderr) unless the answer was 200 and the whole body arrived.
bool streamGet(const std::string& url, std::size_t bufferSize,
               const std::function<bool(const char*, std::size_t)>& sink, std::uint64_t& bytes)
{
    bytes = 0;
    CCurlConnection connection;
    dt_error result = connection.connect(url, false);
    if (result != dt_success) {
        std::cerr << "connect failed: " << result << "\n";
        return false;
    }
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, "/", Poco::Net::HTTPMessage::HTTP_1_1);
    result = connection.sendRequest(request);
    if (result != dt_success) {
        std::cerr << "sending the request failed: " << result << "\n";
        return false;
    }
    CHttpResponseFetcher fetcher(&connection);
    Poco::Net::HTTPResponse* response = nullptr;
    IHttpResponseBodyFetcher* body = nullptr;
    result = fetcher.fetch(response, body);
    if (result != dt_success) {
        std::cerr << "reading the response head failed: " << result << "\n";
        return false;
    }
    if (response->getStatus() != Poco::Net::HTTPResponse::HTTP_OK) {
        std::cerr << "the service answered " << static_cast<int>(response->getStatus()) << "\n";
        return false;
    }
    const std::int64_t expected = response->getContentLength64();
    std::vector<char> buffer(bufferSize);
    for (;;) {
        std::size_t received = 0;
        result = body->read(buffer.data(), buffer.size(), received);
        if (result != dt_success) {
            std::cerr << "reading the body failed after " << bytes << " bytes: " << result << "\n";
            return false;
        }
        if (received == 0)
            break;
        if (!sink(buffer.data(), received))
            return false;
        bytes += received;
    }
    if (expected >= 0 && bytes != static_cast<std::uint64_t>(expected)) {
        std::cerr << "the body ended after " << bytes << " of " << expected << " bytes\n";
        return false;
    }
    return true;
}

bool createEmptyFile(const std::string& path)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    return static_cast<bool>(file);
}

std::string fileMd5(const std::string& path)
{
    std::string md5;
    return calculateFileMd5Hex(md5, utf8ToWide(path), 0, 0) ? md5 : std::string();
}

// "md5=ok", "md5=unchecked" or "md5=MISMATCH(...)"; false only for a mismatch.
bool md5Verdict(const std::string& expected, const std::string& actual, std::string& verdict)
{
    if (expected.empty()) {
        verdict = "md5=unchecked(" + actual + ")";
        return true;
    }
    if (expected == actual) {
        verdict = "md5=ok";
        return true;
    }
    verdict = "md5=MISMATCH(expected " + expected + ", got " + (actual.empty() ? "unreadable" : actual) + ")";
    return false;
}

int runDownload(const Options& options)
{
    if (!createEmptyFile(options.path)) {
        std::cerr << "cannot create " << options.path << "\n";
        return 1;
    }
    std::uint64_t bytes = 0;
    double seconds = 0;
    {
        CFilePosix file;
        if (!file.open(options.path, true)) {
            std::cerr << "cannot open " << options.path << "\n";
            return 1;
        }
        const auto write = [&file](const char* data, std::size_t size) {
            if (file.write(data, size))
                return true;
            std::cerr << "writing the file failed\n";
            return false;
        };
        const Stopwatch clock;
        const bool moved = streamGet(options.url, options.bufferSize, write, bytes);
        file.close();
        seconds = clock.seconds();
        if (!moved)
            return 1;
    }
    std::string verdict = "md5=skipped";
    const bool sound = !options.verify || md5Verdict(options.expectedMd5, fileMd5(options.path), verdict);
    printResult("download", bytes, seconds, verdict);
    return sound ? 0 : 1;
}

// Reads the stored object back and compares its MD5 with the uploaded file's.
bool verifyStoredObject(const Options& options, std::string& verdict)
{
    Poco::MD5Engine md5;
    const auto digest = [&md5](const char* data, std::size_t size) {
        md5.update(data, size);
        return true;
    };
    std::uint64_t bytes = 0;
    const std::string stored = streamGet(options.url, options.bufferSize, digest, bytes)
                                   ? Poco::DigestEngine::digestToHex(md5.digest())
                                   : std::string();
    return md5Verdict(fileMd5(options.path), stored, verdict);
}

int runUpload(const Options& options)
{
    std::uint64_t bytes = 0;
    {
        std::ifstream file(options.path, std::ios::binary | std::ios::ate);
        if (!file) {
            std::cerr << "cannot read " << options.path << "\n";
            return 1;
        }
        bytes = static_cast<std::uint64_t>(file.tellg());
    }
    CSimpleFileUploader uploader(options.url, options.path);
    IHttpResponseBodyFetcher* body = nullptr;
    const Stopwatch clock;
    const dt_error result = uploader.doUpload(body, {{"Content-Type", "application/octet-stream"}});
    const double seconds = clock.seconds();
    std::string answer;
    if (body)
        CFullHttpBodyRetriever(body, 4096).retrieve(answer);
    if (result == dt_network_error && body) {
        // A body reader exists only once the whole file was sent and an answer came back; this
        // one was 300 or more: the bytes moved, but nothing was stored that could be checked.
        printResult("upload", bytes, seconds, "stored=no(answer: " + answer + ")");
        return 0;
    }
    if (result != dt_success) {
        std::cerr << "upload failed: " << result << "\n";
        return 1;
    }
    std::string verdict = "md5=skipped";
    const bool sound = !options.verify || verifyStoredObject(options, verdict);
    printResult("upload", bytes, seconds, verdict);
    return sound ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options)
        return usage();
    CFvTransfersGlobalConfig* config = CFvTransfersGlobalConfig::getInstance();
    config->setAppFilesPath(utf8ToWide(options->logDirectory));
    config->setCaCertificatesFile(options->caFile);
    const std::shared_ptr<CCurlGlobal> curl = CCurlGlobal::acquire();
    if (!curl) {
        std::cerr << "libcurl could not be initialised\n";
        return 1;
    }
    return options->command == "download" ? runDownload(*options) : runUpload(*options);
}
