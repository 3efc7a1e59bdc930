// fv-bench-transport: moves one object with the library's HTTP transport and reports the rate.
//
//   fv-bench-transport download URL OUT [--md5 HEX] [--buffer BYTES] [--ca FILE] [--log-dir DIR] [--no-verify]
//                      [--sync]
//   fv-bench-transport upload URL FILE [--ca FILE] [--log-dir DIR] [--no-verify]
//   fv-bench-transport channels URL OUT --size BYTES [--channels N] [--range BYTES] [--limit BPS]
//                      [--md5 HEX] [--source FILE] [--ca FILE] [--log-dir DIR] [--sample-rate]
//   fv-bench-transport channel-upload URL FILE [--md5 HEX] [--limit BPS] [--ca FILE] [--log-dir DIR]
//                      [--no-verify] [--sample-rate]
//   fv-bench-transport md5 FILE [--md5 HEX] [--log-dir DIR]
//   fv-bench-transport idle
//
// download: one GET over one connection, the body read into a fixed buffer and written to OUT
// (created or truncated) through CFilePosix; --sync ends it with one fdatasync of OUT (inside the
// clock), the durability a download channel gives its range; then the MD5 of OUT is checked
// against --md5.
// upload: the whole FILE as the body of one request through CSimpleFileUploader; when the
// service stores it, the object is read back and its MD5 compared with the file's.
// channels: N download channels (CDownloadChannel) fetch the ranges that tile [0, size) into one
// preallocated OUT, each at limit / N bytes per second as the engine shares a limit; then the
// MD5 of OUT is checked against --md5 and each range against the same bytes of --source.
// --sample-rate prints the bytes moved in each second of the transfer to stderr.
// channel-upload: one upload channel (CUploadChannel) PUTs the whole FILE to URL as one range,
// asking for 100 Continue, and accepts it only when the ETag is the range's MD5: the one --md5
// gives, as an upload file that read it beforehand hands it over, or else the one the channel
// computes while sending; then the stored object is read back and compared with the file.
// md5: the MD5 of the whole FILE, read as a single-part upload file reads it before its PUT
// (calculateFileMd5Digest), compared with --md5.
// idle: starts as the other modes do and exits, the baseline of the memory figures.
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
#include "db/ChannelsDbInfo.h"
#include "db/DbConnection.h"
#include "download/DownloadChannel.h"
#include "download/DownloadUrlSource.h"
#include "framework/TransferBufferManagerFactory.h"
#include "framework/TransferFileBase.h"
#include "upload/UploadChannel.h"
#include "upload/UploadDetailsSource.h"

#include <Poco/Delegate.h>
#include <Poco/MD5Engine.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/NumberParser.h>
#include <Poco/Path.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
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
    bool sync = false; // download
    // channels
    std::uint64_t size = 0;
    std::uint64_t channels = 1;
    std::uint64_t rangeSize = 0; // 0: equal ranges
    std::uint64_t limit = 0;     // bytes per second for all channels together; 0: none
    std::string sourcePath;
    bool sampleRate = false;
};

int usage()
{
    std::cerr << "usage: fv-bench-transport download URL OUT [--md5 HEX] [--buffer BYTES] [--ca FILE] [--log-dir DIR] "
                 "[--no-verify] [--sync]\n"
                 "       fv-bench-transport upload URL FILE [--ca FILE] [--log-dir DIR] [--no-verify]\n"
                 "       fv-bench-transport channels URL OUT --size BYTES [--channels N] [--range BYTES] "
                 "[--limit BPS] [--md5 HEX] [--source FILE] [--ca FILE] [--log-dir DIR] [--sample-rate]\n"
                 "       fv-bench-transport channel-upload URL FILE [--md5 HEX] [--limit BPS] [--ca FILE] "
                 "[--log-dir DIR] [--no-verify] [--sample-rate]\n"
                 "       fv-bench-transport md5 FILE [--md5 HEX] [--log-dir DIR]\n"
                 "       fv-bench-transport idle\n";
    return 2;
}

bool parseCount(const char* text, std::uint64_t& value)
{
    Poco::UInt64 parsed = 0;
    if (!Poco::NumberParser::tryParseUnsigned64(text, parsed))
        return false;
    value = parsed;
    return true;
}

// md5 FILE [--md5 HEX] [--log-dir DIR]
std::optional<Options> parseDigestOptions(int argc, char** argv)
{
    Options options;
    options.command = argv[1];
    options.path = argv[2];
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return std::nullopt;
        if (arg == "--md5")
            options.expectedMd5 = argv[++i];
        else if (arg == "--log-dir")
            options.logDirectory = argv[++i];
        else
            return std::nullopt;
    }
    return options;
}

std::optional<Options> parseOptions(int argc, char** argv)
{
    Options options;
    if (argc == 2 && std::string(argv[1]) == "idle") {
        options.command = "idle";
        return options;
    }
    if (argc >= 3 && std::string(argv[1]) == "md5")
        return parseDigestOptions(argc, argv);
    if (argc < 4)
        return std::nullopt;
    options.command = argv[1];
    options.url = argv[2];
    options.path = argv[3];
    const bool channels = options.command == "channels";
    const bool channelUpload = options.command == "channel-upload";
    if (options.command != "download" && options.command != "upload" && !channels && !channelUpload)
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
        } else if (options.command == "download" && arg == "--sync") {
            options.sync = true;
        } else if (channels && arg == "--size" && hasValue) {
            if (!parseCount(argv[++i], options.size))
                return std::nullopt;
        } else if (channels && arg == "--channels" && hasValue) {
            if (!parseCount(argv[++i], options.channels) || options.channels == 0 || options.channels > 64)
                return std::nullopt;
        } else if (channels && arg == "--range" && hasValue) {
            if (!parseCount(argv[++i], options.rangeSize) || options.rangeSize == 0)
                return std::nullopt;
        } else if ((channels || channelUpload) && arg == "--limit" && hasValue) {
            if (!parseCount(argv[++i], options.limit) || options.limit > 0xffffffffull)
                return std::nullopt;
        } else if (channels && arg == "--source" && hasValue) {
            options.sourcePath = argv[++i];
        } else if ((channels || channelUpload) && arg == "--sample-rate") {
            options.sampleRate = true;
        } else {
            return std::nullopt;
        }
    }
    if (channels && options.size == 0)
        return std::nullopt;
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
        bool moved = streamGet(options.url, options.bufferSize, write, bytes);
        if (moved && options.sync && !file.sync()) {
            std::cerr << "syncing the file failed: " << file.lastError() << "\n";
            moved = false;
        }
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

// The size of the file to upload; false (with the reason on stderr) when it cannot be read.
bool uploadSize(const std::string& path, std::uint64_t& size)
{
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) {
        std::cerr << "cannot read " << path << "\n";
        return false;
    }
    size = static_cast<std::uint64_t>(file.tellg());
    return true;
}

int runUpload(const Options& options)
{
    std::uint64_t bytes = 0;
    if (!uploadSize(options.path, bytes))
        return 1;
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

// The file the channels belong to and the URL they ask for, as a download or upload file gives
// them; an upload also gets the range's MD5 when the file knows it.
class BenchFile : public CTransferFileBase, public IDownloadUrlSource, public IUploadDetailsSource {
public:
    BenchFile(std::string url, const std::string& md5Hex)
        : m_url(std::move(url)),
          m_md5(md5Hex.empty() ? Poco::DigestEngine::Digest() : Poco::DigestEngine::digestFromHex(md5Hex))
    {
    }

    void getFileUid(std::string& uid) override { uid = "bench"; }
    void getBucketId(std::string& bucketId) override { bucketId = "bench"; }
    int getGroupId() override { return 1; }
    int getDownloadUrl(std::string& url, bool) override
    {
        url = m_url;
        return dt_success;
    }
    int getUploadDetails(std::string& url, RestHeaderList& headers, std::vector<unsigned char>& md5Bytes) override
    {
        url = m_url;
        headers = {{"Content-Type", "application/octet-stream"}};
        md5Bytes = m_md5;
        return dt_success;
    }

private:
    const std::string m_url;
    const std::vector<unsigned char> m_md5;
};

struct ByteRange {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

// Equal ranges, one per channel, or ranges of `rangeSize` bytes; together exactly [0, size).
std::vector<ByteRange> tileRanges(std::uint64_t size, std::uint64_t channels, std::uint64_t rangeSize)
{
    const std::uint64_t step = rangeSize != 0 ? rangeSize : (size + channels - 1) / channels;
    std::vector<ByteRange> ranges;
    for (std::uint64_t offset = 0; offset < size; offset += step)
        ranges.push_back({offset, std::min(step, size - offset)});
    return ranges;
}

// A temp file of the object's size, its blocks reserved as a download file reserves them.
bool preallocate(const std::string& path, std::uint64_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    int result = ::posix_fallocate(fd, 0, static_cast<off_t>(size));
    if (result == EOPNOTSUPP || result == EINVAL)
        result = ::ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : errno;
    ::close(fd);
    if (result != 0)
        std::cerr << "cannot size " << path << ": " << std::strerror(result) << "\n";
    return result == 0;
}

// Runs the channels `make` builds, at most `slots` at a time, a range per channel; the next range
// starts as soon as one ends. Hears their events on their threads, decides on the caller's.
class ChannelRunner {
public:
    // The range, the file the channel belongs to and its source, its number, the buffers.
    using ChannelMaker = std::function<std::unique_ptr<ITransferChannel>(
        const ByteRange&, BenchFile&, int, const std::shared_ptr<ITransferBufferManager>&)>;

    // `md5Hex` is what the file tells an upload channel the range's MD5 is ("": unknown).
    ChannelRunner(const Options& options, std::vector<ByteRange> ranges, ChannelMaker make, const std::string& md5Hex)
        : m_options(options), m_ranges(std::move(ranges)), m_make(std::move(make)), m_file(options.url, md5Hex),
          m_buffers(createTransferBufferManager(0)), m_slots(std::min<std::size_t>(options.channels, m_ranges.size()))
    {
        m_buffers->setSizeHint(options.size);
        m_buffers->init(0);
    }
    ~ChannelRunner()
    {
        // A channel that still runs (a failed run) is cancelled and joined before its listeners go.
        for (Slot& slot : m_slots)
            slot.channel.reset();
    }

    // False (with the reason on stderr) unless every range ended in state 3. `sample` is called
    // about once a second with the bytes received since the previous call and the seconds they took.
    bool run(const std::function<void(std::uint64_t, double)>& sample)
    {
        std::size_t next = 0;
        std::size_t running = 0;
        for (Slot& slot : m_slots) {
            if (!startRange(slot, next++))
                return false;
            ++running;
        }
        using Clock = std::chrono::steady_clock;
        auto tick = Clock::now();
        std::uint64_t sampled = 0;
        while (running > 0) {
            std::vector<std::pair<Slot*, std::int32_t>> ended;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait_until(lock, tick + std::chrono::seconds(1), [this] { return !m_ended.empty(); });
                ended.swap(m_ended);
            }
            const auto now = Clock::now();
            if (now >= tick + std::chrono::seconds(1)) {
                const std::uint64_t total = bytes();
                sample(total - sampled, std::chrono::duration<double>(now - tick).count());
                sampled = total;
                tick = now;
            }
            for (const auto& [slot, state] : ended) {
                if (state != ITransferChannel::stateCompleted) {
                    std::cerr << "the range at " << slot->range.offset << " ended in state " << state << "\n";
                    return false;
                }
                slot->channel.reset();
                --running;
                if (next < m_ranges.size()) {
                    if (!startRange(*slot, next++))
                        return false;
                    ++running;
                }
            }
        }
        const auto now = Clock::now();
        sample(bytes() - sampled, std::chrono::duration<double>(now - tick).count());
        return true;
    }

    std::uint64_t bytes() const { return static_cast<std::uint64_t>(std::max<Poco::Int64>(m_bytes.load(), 0)); }

private:
    struct Slot {
        ChannelRunner* runner = nullptr;
        ByteRange range;
        std::unique_ptr<ITransferChannel> channel;

        void onState(const void*, ITransferChannel::StateEventData& event) { runner->onState(*this, event.state); }
        void onProgress(const void*, Poco::Int64& bytes) { runner->m_bytes += bytes; }
    };

    bool startRange(Slot& slot, std::size_t index)
    {
        slot.runner = this;
        slot.range = m_ranges[index];
        slot.channel = m_make(slot.range, m_file, static_cast<int>(index + 1), m_buffers);
        slot.channel->setMaxRetries(3);
        // The engine shares its limit between the channels it runs.
        slot.channel->setSpeedLimit(static_cast<unsigned>(m_options.limit / m_slots.size()));
        slot.channel->stateEvent += Poco::delegate(&slot, &Slot::onState);
        slot.channel->progressEvent += Poco::delegate(&slot, &Slot::onProgress);
        if (slot.channel->start() == dt_success)
            return true;
        std::cerr << "the channel for the range at " << slot.range.offset << " did not start\n";
        return false;
    }

    void onState(Slot& slot, std::int32_t state)
    {
        if (state == ITransferChannel::stateRunning || state == ITransferChannel::statePaused)
            return;
        std::lock_guard<std::mutex> guard(m_mutex);
        m_ended.emplace_back(&slot, state);
        m_wake.notify_one();
    }

    const Options& m_options;
    const std::vector<ByteRange> m_ranges;
    const ChannelMaker m_make;
    BenchFile m_file;
    std::shared_ptr<ITransferBufferManager> m_buffers;
    std::atomic<Poco::Int64> m_bytes{0};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<std::pair<Slot*, std::int32_t>> m_ended; // under m_mutex
    std::vector<Slot> m_slots;
};

// "ranges=ok(N)" or "ranges=MISMATCH(...)": each range of OUT against the same bytes of the source.
bool rangesVerdict(const Options& options, const std::vector<ByteRange>& ranges, std::string& verdict)
{
    for (const ByteRange& range : ranges) {
        std::string ours;
        std::string theirs;
        if (!calculateFileMd5Hex(ours, utf8ToWide(options.path), range.offset, range.size) ||
            !calculateFileMd5Hex(theirs, utf8ToWide(options.sourcePath), range.offset, range.size) || ours != theirs) {
            verdict = "ranges=MISMATCH(at " + std::to_string(range.offset) + ")";
            return false;
        }
    }
    verdict = "ranges=ok(" + std::to_string(ranges.size()) + ")";
    return true;
}

// Runs the channels with the clock around them; false when a range failed.
bool runTimed(ChannelRunner&& runner, const Options& options, double& seconds, std::uint64_t& bytes)
{
    const auto sample = [&options](std::uint64_t moved, double span) {
        if (options.sampleRate)
            std::cerr << "sample seconds=" << std::fixed << std::setprecision(3) << span << " bytes=" << moved
                      << std::endl;
    };
    const Stopwatch clock;
    const bool moved = runner.run(sample);
    seconds = clock.seconds();
    bytes = runner.bytes();
    return moved;
}

int runChannels(const Options& options)
{
    const std::vector<ByteRange> ranges = tileRanges(options.size, options.channels, options.rangeSize);
    if (!preallocate(options.path, options.size))
        return 1;
    double seconds = 0;
    std::uint64_t bytes = 0;
    const auto makeChannel = [&options](const ByteRange& range, BenchFile& file, int number,
                                        const std::shared_ptr<ITransferBufferManager>& buffers) {
        const DownloadChannelParams params{options.path, range.offset, range.size, "", 0, false};
        return std::make_unique<CDownloadChannel>(params, &file, &file, number, buffers, nullptr);
    };
    if (!runTimed(ChannelRunner(options, ranges, makeChannel, ""), options, seconds, bytes))
        return 1;
    std::string verdict = "md5=skipped";
    bool sound = options.expectedMd5.empty() || md5Verdict(options.expectedMd5, fileMd5(options.path), verdict);
    if (!options.sourcePath.empty()) {
        std::string rangeText;
        sound = rangesVerdict(options, ranges, rangeText) && sound;
        verdict += " " + rangeText;
    }
    std::ostringstream shape;
    shape << "channels=" << std::min<std::size_t>(options.channels, ranges.size()) << " ranges=" << ranges.size()
          << " limit=" << options.limit << " " << verdict;
    printResult("channels", bytes, seconds, shape.str());
    return sound ? 0 : 1;
}

int runChannelUpload(const Options& options)
{
    std::uint64_t size = 0;
    if (!uploadSize(options.path, size))
        return 1;
    // The channel keeps its state in the upload channels table, as in the application.
    std::string dbError;
    const std::string dbPath = Poco::Path(options.logDirectory).append("fv-bench-channel-upload.db").toString();
    std::remove(dbPath.c_str()); // a fresh table each run
    const std::shared_ptr<CDbConnection> db = CDbConnection::open(dbPath, CDbConnection::kBusyTimeoutSeconds, dbError);
    if (!db) {
        std::cerr << "cannot open " << dbPath << ": " << dbError << "\n";
        return 1;
    }
    const auto table = std::make_shared<CChannelsDbInfo>(db);
    const auto makeChannel = [&options, &table](const ByteRange& range, BenchFile& file, int number,
                                                const std::shared_ptr<ITransferBufferManager>& buffers) {
        const ChannelDescription description{options.path, range.offset, range.size, "ul", ""};
        return std::make_unique<CUploadChannel>(options.url, description, RestHeaderList{}, &file, &file, number,
                                                buffers, table, true);
    };
    Options shape = options;
    shape.size = size;
    shape.channels = 1;
    double seconds = 0;
    std::uint64_t bytes = 0;
    if (!runTimed(ChannelRunner(shape, {{0, size}}, makeChannel, options.expectedMd5), shape, seconds, bytes))
        return 1;
    std::string verdict = "md5=skipped";
    const bool sound = !options.verify || verifyStoredObject(options, verdict);
    printResult("channel-upload", bytes, seconds,
                std::string("md5-given=") + (options.expectedMd5.empty() ? "no " : "yes ") + verdict);
    return sound ? 0 : 1;
}

int runDigest(const Options& options)
{
    std::uint64_t bytes = 0;
    if (!uploadSize(options.path, bytes))
        return 1;
    Poco::DigestEngine::Digest digest;
    const Stopwatch clock;
    const bool read = calculateFileMd5Digest(digest, utf8ToWide(options.path));
    const double seconds = clock.seconds();
    std::string verdict = "md5=unreadable";
    const bool sound = read && md5Verdict(options.expectedMd5, Poco::DigestEngine::digestToHex(digest), verdict);
    printResult("md5", bytes, seconds, verdict);
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
    if (options->command == "idle")
        return 0;
    if (options->command == "channels")
        return runChannels(*options);
    if (options->command == "channel-upload")
        return runChannelUpload(*options);
    if (options->command == "md5")
        return runDigest(*options);
    return options->command == "download" ? runDownload(*options) : runUpload(*options);
}
