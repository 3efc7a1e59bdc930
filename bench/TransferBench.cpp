// fv-bench-transfer: downloads or uploads files of one bucket with the exported download or upload
// manager, the way the application does (a group, its files queued, the engine started), and
// reports the time.
//
//   fv-bench-transfer download --rest URL --bucket B --token T --out DIR
//                      (--file ID [--size BYTES] [--md5 HEX] | --file-list FILE)
//                      [--channels N] [--part-size BYTES] [--throttle BPS] [--ca FILE] [--samples FILE]
//                      [--app-folder DIR] [--timeout SECONDS] [--trace]
//   fv-bench-transfer upload --rest URL --bucket B --token T (--file PATH --uid ID | --file-list FILE)
//                      [--channels N] [--part-size BYTES] [--throttle BPS] [--ca FILE] [--samples FILE]
//                      [--app-folder DIR] [--timeout SECONDS] [--trace]
//   fv-bench-transfer resume [--upload] --rest URL --app-folder DIR [--ca FILE] [--timeout SECONDS] [--trace]
//   fv-bench-transfer idle [--upload]
//
// download: a fresh temporary app folder (or --app-folder, kept), the library configured and
// started, one group of the bucket downloading into DIR: one file, or every "ID SIZE [MD5]" line
// of the list. --channels sets the manager's concurrent transfers, --part-size the size it
// divides a file into when no manifest or plain MD5 divides it, --throttle its limit for all
// channels together. Waits for the group to complete, then shuts the manager down and ends the
// library. --samples writes "sample seconds=S bytes=B" lines: the bytes the group's events
// reported over about each second, from startup to completion.
// upload: the same with the upload manager: one group of the bucket with one local file (its uid
// the one the service gave it), or every "UID PATH" line of the list, queued and the queue marked;
// --part-size is the manager's minimum multipart size, which is also the size of its parts.
// resume: starts on an app folder a killed download (with --upload: upload) left behind and waits
// for its restored group; prints, in CLOCK_REALTIME ms, when the first byte beyond the restored
// ones was reported.
// idle: starts the library and builds the download (--upload: upload) manager, then ends: the
// memory baseline.
//
// Prints one key=value line on stdout. Exit status: 0 completed, 1 the group errored, 2 usage,
// 3 the library did not start or refused the set-up, 4 time-out.

#include "support/programs/DownloadManagerHost.h"
#include "support/programs/UploadManagerHost.h"

#include "download/DownloadManager.h"
#include "upload/UploadManager.h"

#include <algorithm>
#include <chrono>
#include <clocale>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <stdlib.h>

namespace {

using fv_transfers::CDownloadManager;
using fv_transfers::CTransferManagerBase;
using fv_transfers::CUploadManager;
using Clock = std::chrono::steady_clock;

// A file of the group: a download's id, size and MD5, or an upload's uid and local path.
struct FileEntry {
    std::string id;
    std::uint64_t size = 0;
    std::string md5;
    std::string path;
};

struct Options {
    std::string command;
    std::string rest;
    std::string bucket;
    std::string token;
    std::string out;
    std::vector<FileEntry> files;
    std::uint32_t channels = 3;
    std::uint64_t partSize = 0; // 0: the manager's default
    std::uint64_t throttle = 0;
    std::string ca;
    std::string samples;
    std::string appFolder; // empty: a temporary one
    std::chrono::seconds timeout{600};
    bool trace = false;
    bool upload = false; // resume and idle: the upload manager
};

int usage()
{
    std::cerr << "usage: fv-bench-transfer download --rest URL --bucket B --token T --out DIR\n"
                 "                          (--file ID [--size BYTES] [--md5 HEX] | --file-list FILE)\n"
                 "                          [--channels N] [--part-size BYTES] [--throttle BPS] [--ca FILE]\n"
                 "                          [--samples FILE] [--app-folder DIR] [--timeout SECONDS] [--trace]\n"
                 "       fv-bench-transfer upload --rest URL --bucket B --token T\n"
                 "                          (--file PATH --uid ID | --file-list FILE)\n"
                 "                          [--channels N] [--part-size BYTES] [--throttle BPS] [--ca FILE]\n"
                 "                          [--samples FILE] [--app-folder DIR] [--timeout SECONDS] [--trace]\n"
                 "       fv-bench-transfer resume [--upload] --rest URL --app-folder DIR [--ca FILE] "
                 "[--timeout SECONDS] [--trace]\n"
                 "       fv-bench-transfer idle [--upload]\n";
    return 2;
}

template <typename Number> bool parseNumber(const std::string& text, Number& value)
{
    try {
        size_t used = 0;
        const unsigned long long parsed = std::stoull(text, &used);
        if (used != text.size() || text[0] == '-')
            return false;
        value = static_cast<Number>(parsed);
        return static_cast<unsigned long long>(value) == parsed;
    } catch (const std::exception&) {
        return false;
    }
}

// A download's list: "ID SIZE [MD5]" lines.
bool readFileList(const std::string& path, std::vector<FileEntry>& files)
{
    std::ifstream list(path);
    std::string line;
    while (list && std::getline(list, line)) {
        std::istringstream fields(line);
        FileEntry entry;
        std::string size;
        if (!(fields >> entry.id))
            continue;
        if (!(fields >> size) || !parseNumber(size, entry.size))
            return false;
        fields >> entry.md5;
        files.push_back(entry);
    }
    return !files.empty();
}

// An upload's list: "UID PATH" lines, the path to the end of the line.
bool readUploadList(const std::string& path, std::vector<FileEntry>& files)
{
    std::ifstream list(path);
    std::string line;
    while (list && std::getline(list, line)) {
        std::istringstream fields(line);
        FileEntry entry;
        if (!(fields >> entry.id))
            continue;
        std::getline(fields >> std::ws, entry.path);
        if (entry.path.empty())
            return false;
        files.push_back(entry);
    }
    return !files.empty();
}

// The local files of an upload with their sizes; false when one cannot be read.
bool sizeUploads(std::vector<FileEntry>& files)
{
    for (FileEntry& entry : files) {
        std::error_code error;
        entry.size = std::filesystem::file_size(entry.path, error);
        if (error) {
            std::cerr << "fv-bench-transfer: " << entry.path << ": " << error.message() << "\n";
            return false;
        }
    }
    return true;
}

// The upload command's files: --file with its --uid, or the list; each sized on the way.
std::optional<Options> withUploads(Options options, const FileEntry& single, const std::string& fileList)
{
    if (options.bucket.empty() || options.token.empty() || single.path.empty() == fileList.empty())
        return std::nullopt;
    if (!single.path.empty()) {
        if (single.id.empty())
            return std::nullopt;
        options.files.push_back(single);
    } else if (!readUploadList(fileList, options.files)) {
        std::cerr << "fv-bench-transfer: " << fileList << " has no usable \"UID PATH\" lines\n";
        return std::nullopt;
    }
    return sizeUploads(options.files) ? std::optional<Options>(options) : std::nullopt;
}

std::optional<Options> parseOptions(int argc, char** argv)
{
    if (argc < 2)
        return std::nullopt;
    Options options;
    options.command = argv[1];
    FileEntry single;
    std::string file; // an upload's local path, a download's id
    std::string fileList;
    for (int i = 2; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--trace" || name == "--upload") {
            (name == "--trace" ? options.trace : options.upload) = true;
            continue;
        }
        if (i + 1 >= argc)
            return std::nullopt;
        const std::string value = argv[++i];
        std::uint64_t seconds = 0;
        bool ok = true;
        if (name == "--rest")
            options.rest = value;
        else if (name == "--bucket")
            options.bucket = value;
        else if (name == "--token")
            options.token = value;
        else if (name == "--out")
            options.out = value;
        else if (name == "--file")
            file = value;
        else if (name == "--uid")
            single.id = value;
        else if (name == "--size")
            ok = parseNumber(value, single.size);
        else if (name == "--md5")
            single.md5 = value;
        else if (name == "--file-list")
            fileList = value;
        else if (name == "--channels")
            ok = parseNumber(value, options.channels) && options.channels > 0;
        else if (name == "--part-size")
            ok = parseNumber(value, options.partSize);
        else if (name == "--throttle")
            ok = parseNumber(value, options.throttle);
        else if (name == "--ca")
            options.ca = value;
        else if (name == "--samples")
            options.samples = value;
        else if (name == "--app-folder")
            options.appFolder = value;
        else if (name == "--timeout") {
            ok = parseNumber(value, seconds) && seconds > 0;
            options.timeout = std::chrono::seconds(seconds);
        } else
            ok = false;
        if (!ok)
            return std::nullopt;
    }
    if (options.upload && options.command != "idle" && options.command != "resume")
        return std::nullopt;
    if (options.command == "idle")
        return options;
    if (options.rest.empty())
        return std::nullopt;
    if (options.command == "resume")
        return options.appFolder.empty() ? std::nullopt : std::optional<Options>(options);
    if (options.command == "upload") {
        single.path = file;
        return withUploads(options, single, fileList);
    }
    if (options.command != "download" || options.bucket.empty() || options.token.empty() || options.out.empty())
        return std::nullopt;
    single.id = file;
    if (file.empty() == fileList.empty())
        return std::nullopt;
    if (!file.empty())
        options.files.push_back(single);
    else if (!readFileList(fileList, options.files)) {
        std::cerr << "fv-bench-transfer: " << fileList << " has no usable \"ID SIZE [MD5]\" lines\n";
        return std::nullopt;
    }
    return options;
}

// The app folder: a fresh temporary one, removed at the end, or the one given, kept.
class AppFolder {
public:
    explicit AppFolder(const std::string& given) : m_path(given)
    {
        if (!m_path.empty())
            return;
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fv-bench-transfer.XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary app folder");
        m_path = pattern;
        m_owned = true;
    }
    ~AppFolder()
    {
        std::error_code ignored;
        if (m_owned)
            std::filesystem::remove_all(m_path, ignored);
    }
    AppFolder(const AppFolder&) = delete;
    AppFolder& operator=(const AppFolder&) = delete;

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    bool m_owned = false;
};

// Keeps a group's progress as it was reported, and wakes the waiter when a group completes or
// errors; the part of a manager's receiver both managers share.
class GroupProgress {
public:
    enum class End { none, completed, errored };

    struct Progress {
        Clock::time_point at;
        std::uint64_t bytes = 0;
    };

    void record(const CTransferManagerBase::GroupState& state)
    {
        const Clock::time_point now = Clock::now();
        std::lock_guard<std::mutex> lock(m_mutex);
        if (state.cancelled)
            return;
        if (m_progress.empty() || m_progress.back().bytes != state.bytesTransferred)
            m_progress.push_back({now, state.bytesTransferred});
        if (m_baselineAwaited && state.bytesTransferred > 0) {
            m_baselineAwaited = false;
            m_baseline = state.bytesTransferred;
        } else if (state.bytesTransferred > m_baseline && !m_firstNewByte)
            m_firstNewByte = std::chrono::system_clock::now();
        if (state.state == CTransferManagerBase::GROUP_COMPLETED)
            m_end = End::completed;
        else if (state.state == CTransferManagerBase::GROUP_ERRORED && m_end == End::none) {
            m_end = End::errored;
            m_errorCode = state.errorCode;
        }
        m_changed.notify_all();
    }

    // What was on disk (or stored) before the engine started; only bytes beyond it count as new.
    // With `fromFirstReport` the first report of any bytes gives it instead: a restored upload
    // counts its sent parts only once its file starts, before a channel sends.
    void startFrom(Clock::time_point at, std::uint64_t baseline, bool fromFirstReport)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_progress.assign(1, {at, baseline});
        m_baseline = baseline;
        m_baselineAwaited = fromFirstReport;
    }

    std::uint64_t baseline() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_baseline;
    }

    End waitForEnd(Clock::time_point deadline)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_until(lock, deadline, [this] { return m_end != End::none; });
        return m_end;
    }

    int errorCode() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_errorCode;
    }

    std::optional<std::chrono::system_clock::time_point> firstNewByte() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_firstNewByte;
    }

    std::vector<Progress> progress() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_progress;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Progress> m_progress; // from startFrom on, one entry per change of the byte count
    std::uint64_t m_baseline = 0;
    bool m_baselineAwaited = false;
    std::optional<std::chrono::system_clock::time_point> m_firstNewByte;
    End m_end = End::none;
    int m_errorCode = 0;
};

// The receiver of one manager's events.
template <typename Manager> class GroupWatcher : public Manager::ICallback, public GroupProgress {
public:
    void onGroupStateChanged(const typename Manager::GroupState& state) override { record(state); }
    void onFileStateChanged(const CTransferManagerBase::FileState&) override {}
};

// One line per second of the transfer: the last progress reported by each whole second after the
// start, against the one before it, so every span is measured between two reports.
void writeSamples(const std::string& path, const std::vector<GroupProgress::Progress>& progress)
{
    std::ofstream samples(path);
    if (progress.empty())
        return;
    const Clock::time_point start = progress.front().at;
    size_t previous = 0;
    for (int second = 1; previous + 1 < progress.size(); ++second) {
        const Clock::time_point boundary = start + std::chrono::seconds(second);
        size_t chosen = previous;
        while (chosen + 1 < progress.size() && progress[chosen + 1].at <= boundary)
            ++chosen;
        if (progress.back().at <= boundary)
            chosen = progress.size() - 1;
        if (chosen == previous)
            continue;
        const std::chrono::duration<double> span = progress[chosen].at - progress[previous].at;
        samples << "sample seconds=" << std::fixed << std::setprecision(3) << span.count()
                << " bytes=" << progress[chosen].bytes - progress[previous].bytes << "\n";
        previous = chosen;
    }
}

std::uint64_t nowMs()
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

template <typename Manager> bool configure(Manager& manager, const Options& options)
{
    auto configuration = manager.getConfiguration();
    configuration.maxConcurrentTransfers = options.channels;
    if (options.partSize != 0)
        configuration.minMultipartSize = options.partSize;
    configuration.throttleBytesPerSecond = options.throttle;
    configuration.preventSleep = false;
    return manager.setConfiguration(configuration) == 0;
}

// Creates the group and queues the files; the group's id, or -1.
int queueGroup(CDownloadManager& manager, const Options& options)
{
    std::error_code error;
    std::filesystem::create_directories(options.out, error);
    std::string bucket = options.bucket;
    std::string type = "DOWNLOAD";
    std::string token = options.token;
    std::wstring folder = fv_test::toWide("file://" + std::filesystem::absolute(options.out).string());
    std::shared_ptr<CDownloadManager::GroupInfoMap> info;
    const int group = manager.createGroup(bucket, type, token, 0, folder, info);
    if (group < 0)
        return -1;
    std::vector<CDownloadManager::FileDownloadDetails> files;
    const std::uint64_t modified = nowMs();
    for (const FileEntry& entry : options.files) {
        CDownloadManager::FileDownloadDetails file;
        file.id = entry.id;
        file.path = fv_test::toWide(entry.id);
        file.size = entry.size;
        file.modified = modified;
        file.md5Digest = entry.md5;
        files.push_back(std::move(file));
    }
    manager.queueFiles(group, files);
    return group;
}

// Creates the group, queues the files and marks the queue, as the application does once the
// user's selection is complete; the group's id, or -1.
int queueGroup(CUploadManager& manager, const Options& options)
{
    std::string bucket = options.bucket;
    std::string type = "UPLOAD";
    std::string token = options.token;
    const int group = manager.createGroup(bucket, type, token, 0);
    if (group < 0)
        return -1;
    std::vector<CUploadManager::FileDesc> files;
    for (const FileEntry& entry : options.files) {
        const std::string path = std::filesystem::absolute(entry.path).string();
        files.push_back(CUploadManager::FileDesc{entry.id, fv_test::toWide("file://" + path)});
    }
    manager.queueFiles(group, files);
    manager.markQueue(group);
    return group;
}

// The bytes of every download group restored from the app folder.
std::uint64_t restoredBytes(CDownloadManager& manager)
{
    std::vector<CDownloadManager::GroupState> states;
    manager.fetchGroupsStates(states);
    std::uint64_t bytes = 0;
    for (const auto& state : states)
        bytes += state.bytesTransferred;
    return bytes;
}

// A restored upload reports its sent parts only once its file starts: the first report is its
// baseline (GroupProgress::startFrom), nothing before.
std::uint64_t restoredBytes(CUploadManager&)
{
    return 0;
}

// Sets the manager up for the command, runs its engine until the group ends and prints the line.
template <typename Manager> int transfer(Manager& manager, GroupProgress& watcher, const Options& options)
{
    if (options.command == "idle")
        return 0;
    if (!configure(manager, options)) {
        std::cerr << "fv-bench-transfer: the manager refused the configuration\n";
        return 3;
    }
    std::uint64_t total = 0;
    if (options.command != "resume") {
        if (queueGroup(manager, options) < 0) {
            std::cerr << "fv-bench-transfer: the manager refused the group\n";
            return 3;
        }
        for (const FileEntry& entry : options.files)
            total += entry.size;
    }
    const Clock::time_point start = Clock::now();
    watcher.startFrom(start, restoredBytes(manager), options.command == "resume" && options.upload);
    manager.startup();
    const GroupProgress::End end = watcher.waitForEnd(start + options.timeout);
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    manager.shutdown();
    if (!options.samples.empty())
        writeSamples(options.samples, watcher.progress());

    if (end == GroupProgress::End::none) {
        std::cerr << "fv-bench-transfer: no end after " << options.timeout.count() << " s\n";
        return 4;
    }
    if (end == GroupProgress::End::errored) {
        std::cerr << "fv-bench-transfer: the group errored (error " << watcher.errorCode() << ")\n";
        return 1;
    }
    std::cout << "files=" << options.files.size() << " bytes=" << total << " seconds=" << std::fixed
              << std::setprecision(3) << elapsed.count();
    if (options.command == "resume") {
        const auto first = watcher.firstNewByte();
        std::cout << " restored=" << watcher.baseline() << " first-new-byte-ms="
                  << (first ? std::chrono::duration_cast<std::chrono::milliseconds>(first->time_since_epoch()).count()
                            : 0);
    }
    std::cout << std::endl;
    return 0;
}

// The library started for the command's manager, which the host builds and ends.
template <typename Host, typename Manager> int hosted(const Options& options, const fv_test::HostOptions& hostOptions)
{
    GroupWatcher<Manager> watcher;
    Host host(hostOptions, &watcher);
    return transfer(host.manager(), watcher, options);
}

int run(const Options& options)
{
    AppFolder app(options.appFolder);
    fv_test::HostOptions hostOptions;
    hostOptions.appFolder = app.path();
    hostOptions.restUrl = options.rest;
    hostOptions.caFile = options.ca;
    hostOptions.trace = options.trace;
    if (options.upload || options.command == "upload")
        return hosted<fv_test::UploadManagerHost, CUploadManager>(options, hostOptions);
    return hosted<fv_test::DownloadManagerHost, CDownloadManager>(options, hostOptions);
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options)
        return usage();
    try {
        return run(*options);
    } catch (const std::runtime_error& error) {
        std::cerr << "fv-bench-transfer: " << error.what() << "\n";
        return 3;
    }
}
