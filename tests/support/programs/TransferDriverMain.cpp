// The program that crash tests start, drive and kill: the shipped library behind a line protocol.
//
//   fv-transfer-driver --app-folder DIR --rest URL [--ca FILE] [--log-dir DIR] [--trace]
//
// Prints {"event":"ready","pid":N} once the download manager is built. Then reads one JSON
// command per line on stdin ({"cmd":"queue","group":1,"files":[...],"seq":7}) and answers each
// with one {"reply":"queue","seq":7,"result":0,...} line. Every callback becomes one event line
// ({"event":"group",...} or {"event":"file",...}, every field of the record). End of input
// shuts the managers down and exits 0.
//
// Commands without "manager" drive the download manager. Those with "manager":"upload" drive
// the upload manager, built (restoring the folder's upload groups) by the first of them:
//   create {bucketId, bucketType, token, expires}  -> result: the group id or -1
//   queue {group, files: [{uid, url}]} (url: file:// URL), dequeue {group, files: [{uid}]},
//   mark, unmark, pause, resume, cancel {group}, state {group} (its record, "marked", "active"),
//   groups (every record, "count"), config {the Configuration's fields} (result, "configuration"),
//   startup, shutdown
// and its events carry "manager":"upload" (group events "marked" too).
//
// Each line leaves in one write() shorter than PIPE_BUF, from one writer thread, so a SIGKILL
// at any instant leaves only whole lines behind. The program uses only what the shipped
// library exports.
#include "support/programs/DownloadManagerHost.h"
#include "support/programs/LibraryHost.h"
#include "support/programs/UploadManagerHost.h"

#include "download/DownloadManager.h"
#include "upload/UploadManager.h"

#include <json/json.h>

#include <cerrno>
#include <clocale>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <limits.h>
#include <unistd.h>

namespace {

using fv_test::toUtf8;
using fv_test::toWide;
using fv_transfers::CDownloadManager;
using fv_transfers::CTransferManagerBase;
using fv_transfers::CUploadManager;

std::string oneLine(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value) + "\n";
}

// The progress fields group and file records share.
template <typename Record> void addProgress(const Record& state, Json::Value& line)
{
    line["bytesTransferred"] = Json::UInt64(state.bytesTransferred);
    line["bytesTotal"] = Json::UInt64(state.bytesTotal);
    line["bytesTransferredPerSecond"] = Json::UInt64(state.bytesTransferredPerSecond);
    line["percentTransferred"] = state.percentTransferred;
    line["estimatedEta"] = Json::UInt64(state.estimatedEta);
}

Json::Value baseGroupFields(const CTransferManagerBase::GroupState& state)
{
    Json::Value line;
    line["state"] = state.state;
    line["errorCode"] = state.errorCode;
    line["bucketType"] = state.bucketType;
    line["id"] = state.id;
    line["bucketId"] = state.bucketId;
    addProgress(state, line);
    line["creationTimeMs"] = Json::Int64(state.creationTimeMs);
    line["empty"] = state.empty;
    line["paused"] = state.paused;
    line["cancelled"] = state.cancelled;
    line["retryCounter"] = state.retryCounter;
    line["filesCompleted"] = state.filesCompleted;
    return line;
}

Json::Value groupFields(const CDownloadManager::GroupState& state)
{
    Json::Value line = baseGroupFields(state);
    line["downloadPath"] = toUtf8(state.downloadPath);
    return line;
}

Json::Value groupFields(const CUploadManager::GroupState& state)
{
    Json::Value line = baseGroupFields(state);
    line["marked"] = state.marked;
    return line;
}

Json::Value fileFields(const CTransferManagerBase::FileState& state)
{
    Json::Value line;
    line["id"] = state.id;
    line["bucketId"] = state.bucketId;
    line["fileId"] = state.fileId;
    line["state"] = state.state;
    line["errorCode"] = state.errorCode;
    addProgress(state, line);
    return line;
}

// The one thread that writes stdout. Callbacks hand it a copy of their record and return at
// once; the lines leave in the order they were handed over.
class LineWriter {
public:
    explicit LineWriter(std::ofstream* transcript) : m_transcript(transcript), m_thread([this] { run(); }) {}
    ~LineWriter() { stop(); }
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    void post(std::function<Json::Value()> line)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.push_back(std::move(line));
        }
        m_wake.notify_one();
    }

    // Writes what is still queued, then ends the thread.
    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping)
                return;
            m_stopping = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }

    // The transcript is written from both the reading thread and this one.
    void record(const std::string& text)
    {
        if (!m_transcript)
            return;
        std::lock_guard<std::mutex> lock(m_transcriptMutex);
        *m_transcript << text << std::flush;
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (true) {
            m_wake.wait(lock, [this] { return m_stopping || !m_lines.empty(); });
            if (m_lines.empty())
                return;
            std::function<Json::Value()> next = std::move(m_lines.front());
            m_lines.pop_front();
            lock.unlock();
            writeLine(oneLine(next()));
            lock.lock();
        }
    }

    void writeLine(const std::string& text)
    {
        if (text.size() >= PIPE_BUF)
            std::fprintf(stderr, "fv-transfer-driver: a line of %zu bytes may be cut by a kill\n", text.size());
        const char* data = text.data();
        size_t left = text.size();
        while (left > 0) {
            const ssize_t written = ::write(STDOUT_FILENO, data, left);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return; // the reader is gone; the lines have no one to go to
            data += written;
            left -= static_cast<size_t>(written);
        }
        record(text);
    }

    std::ofstream* m_transcript;
    std::mutex m_transcriptMutex;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<Json::Value()>> m_lines;
    bool m_stopping = false;
    std::thread m_thread; // last: it starts once the members it uses exist
};

// The callbacks of one manager as event lines, tagged with `managerName` unless it is empty.
template <typename Manager> class EventForwarder : public Manager::ICallback {
public:
    EventForwarder(LineWriter& writer, std::string managerName)
        : m_writer(writer), m_managerName(std::move(managerName))
    {
    }

    void onGroupStateChanged(const typename Manager::GroupState& state) override
    {
        m_writer.post([state, name = m_managerName] { return tagged(groupFields(state), "group", name); });
    }
    void onFileStateChanged(const CTransferManagerBase::FileState& state) override
    {
        m_writer.post([state, name = m_managerName] { return tagged(fileFields(state), "file", name); });
    }

private:
    static Json::Value tagged(Json::Value line, const char* event, const std::string& managerName)
    {
        line["event"] = event;
        if (!managerName.empty())
            line["manager"] = managerName;
        return line;
    }

    LineWriter& m_writer;
    const std::string m_managerName;
};

struct Options {
    std::string appFolder;
    std::string rest;
    std::string ca;
    std::string logDir;
    bool trace = false;
};

std::optional<Options> parseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        const bool hasValue = i + 1 < argc;
        if (name == "--trace")
            options.trace = true;
        else if (name == "--app-folder" && hasValue)
            options.appFolder = argv[++i];
        else if (name == "--rest" && hasValue)
            options.rest = argv[++i];
        else if (name == "--ca" && hasValue)
            options.ca = argv[++i];
        else if (name == "--log-dir" && hasValue)
            options.logDir = argv[++i];
        else
            return std::nullopt;
    }
    if (options.appFolder.empty() || options.rest.empty())
        return std::nullopt;
    return options;
}

template <typename Number> void readNumber(const Json::Value& command, const char* name, Number& field)
{
    if (command.isMember(name))
        field = static_cast<Number>(command[name].asLargestUInt());
}

void readFlag(const Json::Value& command, const char* name, bool& field)
{
    if (command.isMember(name))
        field = command[name].asBool();
}

// The fields both managers' configurations have, where the command gives them.
void readConfiguration(const Json::Value& command, CTransferManagerBase::Configuration& configuration)
{
    readNumber(command, "maxConcurrentTransfers", configuration.maxConcurrentTransfers);
    readNumber(command, "minMultipartSize", configuration.minMultipartSize);
    readNumber(command, "maxTransferRetries", configuration.maxTransferRetries);
    readFlag(command, "verify", configuration.verify);
    readFlag(command, "preventSleep", configuration.preventSleep);
    readNumber(command, "throttleBytesPerSecond", configuration.throttleBytesPerSecond);
    readNumber(command, "connectionTimeoutMs", configuration.connectionTimeoutMs);
    readNumber(command, "sendTimeoutMs", configuration.sendTimeoutMs);
    readNumber(command, "receiveTimeoutMs", configuration.receiveTimeoutMs);
    if (command.isMember("restEndpoint"))
        configuration.restEndpoint = command["restEndpoint"].asString();
}

Json::Value configurationFields(const CUploadManager::Configuration& configuration)
{
    Json::Value fields;
    fields["maxConcurrentTransfers"] = configuration.maxConcurrentTransfers;
    fields["minMultipartSize"] = Json::UInt64(configuration.minMultipartSize);
    fields["maxTransferRetries"] = configuration.maxTransferRetries;
    fields["verify"] = configuration.verify;
    fields["preventSleep"] = configuration.preventSleep;
    fields["throttleBytesPerSecond"] = Json::UInt64(configuration.throttleBytesPerSecond);
    fields["connectionTimeoutMs"] = configuration.connectionTimeoutMs;
    fields["sendTimeoutMs"] = configuration.sendTimeoutMs;
    fields["receiveTimeoutMs"] = configuration.receiveTimeoutMs;
    fields["restEndpoint"] = configuration.restEndpoint;
    fields["serverTransferProgressInterval"] = configuration.serverTransferProgressInterval;
    return fields;
}

std::vector<CDownloadManager::FileDownloadDetails> readFiles(const Json::Value& list)
{
    std::vector<CDownloadManager::FileDownloadDetails> files;
    for (const Json::Value& entry : list) {
        CDownloadManager::FileDownloadDetails file;
        file.id = entry["id"].asString();
        file.path = toWide(entry["path"].asString());
        file.size = entry["size"].asLargestUInt();
        file.modified = entry["modified"].asLargestUInt();
        file.md5Digest = entry["md5"].asString();
        file.downloadDetails.url = entry["url"].asString();
        file.downloadDetails.expires = entry["expires"].asLargestUInt();
        files.push_back(std::move(file));
    }
    return files;
}

// The commands both managers take alike; false for any other.
template <typename Manager> bool runCommon(Manager& manager, const std::string& name, int group)
{
    if (name == "startup")
        manager.startup();
    else if (name == "shutdown")
        manager.shutdown();
    else if (name == "pause")
        manager.pauseGroup(group);
    else if (name == "resume")
        manager.resumeGroup(group);
    else if (name == "cancel")
        manager.cancelGroup(group);
    else
        return false;
    return true;
}

// Runs one command on the download manager and fills its reply; false for a command it does
// not know.
class DownloadCommands {
public:
    explicit DownloadCommands(CDownloadManager& manager) : m_manager(manager) {}

    bool run(const std::string& name, const Json::Value& command, Json::Value& reply)
    {
        const int group = command["group"].asInt();
        if (runCommon(m_manager, name, group))
            return true;
        if (name == "configure")
            reply["result"] = configure(command);
        else if (name == "createGroup")
            reply["result"] = createGroup(command);
        else if (name == "queue") {
            auto files = readFiles(command["files"]);
            m_manager.queueFiles(group, files);
        } else if (name == "dequeue") {
            auto files = readFiles(command["files"]);
            m_manager.dequeueFiles(group, files);
        } else if (name == "state")
            state(command, reply);
        else
            return false;
        return true;
    }

private:
    int configure(const Json::Value& command)
    {
        CTransferManagerBase::Configuration configuration = m_manager.getConfiguration();
        readConfiguration(command, configuration);
        return m_manager.setConfiguration(configuration);
    }

    int createGroup(const Json::Value& command)
    {
        std::string bucketId = command["bucketId"].asString();
        std::string bucketType = command["bucketType"].asString();
        std::string token = command["token"].asString();
        std::wstring downloadPath = toWide(command["downloadPath"].asString());
        std::shared_ptr<CDownloadManager::GroupInfoMap> info;
        if (command.isMember("groupInfo")) {
            info = std::make_shared<CDownloadManager::GroupInfoMap>();
            for (const std::string& key : command["groupInfo"].getMemberNames())
                (*info)[key] = command["groupInfo"][key].asString();
        }
        return m_manager.createGroup(bucketId, bucketType, token, command["tokenExpires"].asLargestUInt(), downloadPath,
                                     info);
    }

    // With "group": that group's record and map; without: every group's record.
    void state(const Json::Value& command, Json::Value& reply)
    {
        reply["active"] = m_manager.hasActiveTransfers();
        reply["count"] = m_manager.getGroupsCount();
        if (command.isMember("group")) {
            const int group = command["group"].asInt();
            CDownloadManager::GroupState record;
            reply["result"] = m_manager.getGroupState(group, record);
            reply["group"] = groupFields(record);
            if (const auto info = m_manager.getGroupInfo(group)) {
                for (const auto& entry : *info)
                    reply["groupInfo"][entry.first] = entry.second;
            }
            return;
        }
        std::vector<CDownloadManager::GroupState> records;
        m_manager.fetchGroupsStates(records);
        reply["groups"] = Json::Value(Json::arrayValue);
        for (const auto& record : records)
            reply["groups"].append(groupFields(record));
    }

    CDownloadManager& m_manager;
};

std::vector<CUploadManager::FileDesc> readUploadFiles(const Json::Value& list)
{
    std::vector<CUploadManager::FileDesc> files;
    for (const Json::Value& entry : list) {
        CUploadManager::FileDesc file;
        file.fileUid = entry["uid"].asString();
        file.fileUrl = toWide(entry["url"].asString());
        files.push_back(std::move(file));
    }
    return files;
}

// Runs one command on the upload manager and fills its reply; false for a command it does not
// know.
class UploadCommands {
public:
    explicit UploadCommands(CUploadManager& manager) : m_manager(manager) {}

    bool run(const std::string& name, const Json::Value& command, Json::Value& reply)
    {
        const int group = command["group"].asInt();
        if (runCommon(m_manager, name, group))
            return true;
        if (name == "config")
            configure(command, reply);
        else if (name == "create")
            reply["result"] = create(command);
        else if (name == "queue") {
            auto files = readUploadFiles(command["files"]);
            m_manager.queueFiles(group, files);
        } else if (name == "dequeue") {
            auto files = readUploadFiles(command["files"]);
            m_manager.dequeueFile(group, files);
        } else if (name == "mark")
            m_manager.markQueue(group);
        else if (name == "unmark")
            m_manager.unmarkQueue(group);
        else if (name == "state")
            state(group, reply);
        else if (name == "groups")
            groups(reply);
        else
            return false;
        return true;
    }

private:
    void configure(const Json::Value& command, Json::Value& reply)
    {
        CUploadManager::Configuration configuration = m_manager.getConfiguration();
        readConfiguration(command, configuration);
        readNumber(command, "serverTransferProgressInterval", configuration.serverTransferProgressInterval);
        reply["result"] = m_manager.setConfiguration(configuration);
        reply["configuration"] = configurationFields(m_manager.getConfiguration());
    }

    int create(const Json::Value& command)
    {
        std::string bucketId = command["bucketId"].asString();
        std::string bucketType = command["bucketType"].asString();
        std::string token = command["token"].asString();
        return m_manager.createGroup(bucketId, bucketType, token, command["expires"].asLargestUInt());
    }

    void state(int group, Json::Value& reply)
    {
        CUploadManager::GroupState record;
        reply["result"] = m_manager.getGroupState(group, record);
        reply["group"] = groupFields(record);
        reply["marked"] = m_manager.isQueueMarked(group);
        reply["active"] = m_manager.hasActiveTransfers();
    }

    void groups(Json::Value& reply)
    {
        std::vector<CUploadManager::GroupState> records;
        m_manager.fetchGroupsInfo(records);
        reply["groups"] = Json::Value(Json::arrayValue);
        for (const auto& record : records)
            reply["groups"].append(groupFields(record));
        reply["count"] = m_manager.getGroupsCount();
    }

    CUploadManager& m_manager;
};

// The managers the commands reach: the download manager from the start, the upload manager
// from the first command that names it, both on one library.
class Managers {
public:
    Managers(std::shared_ptr<fv_test::LibraryHost> library, LineWriter& writer)
        : m_library(std::move(library)), m_downloadEvents(writer, ""), m_uploadEvents(writer, "upload"),
          m_download(m_library, &m_downloadEvents), m_downloadCommands(m_download.manager())
    {
    }
    Managers(const Managers&) = delete;
    Managers& operator=(const Managers&) = delete;

    // False for a command (or a manager) it does not know.
    bool run(const Json::Value& command, Json::Value& reply)
    {
        const std::string name = command["cmd"].asString();
        const std::string manager = command["manager"].asString();
        if (manager.empty() || manager == "download")
            return m_downloadCommands.run(name, command, reply);
        if (manager != "upload")
            return false;
        if (!m_upload) {
            m_upload = std::make_unique<fv_test::UploadManagerHost>(m_library, &m_uploadEvents);
            m_uploadCommands = std::make_unique<UploadCommands>(m_upload->manager());
        }
        reply["manager"] = manager;
        return m_uploadCommands->run(name, command, reply);
    }

private:
    std::shared_ptr<fv_test::LibraryHost> m_library;
    // The receivers outlive the managers that call them.
    EventForwarder<CDownloadManager> m_downloadEvents;
    EventForwarder<CUploadManager> m_uploadEvents;
    fv_test::DownloadManagerHost m_download;
    DownloadCommands m_downloadCommands;
    // After the download manager's members: the upload manager, built last, shuts down first.
    std::unique_ptr<fv_test::UploadManagerHost> m_upload;
    std::unique_ptr<UploadCommands> m_uploadCommands;
};

// Reads commands until end of input or "exit".
void serve(Managers& managers, LineWriter& writer)
{
    Json::CharReaderBuilder readers;
    std::string text;
    while (std::getline(std::cin, text)) {
        writer.record("> " + text + "\n");
        Json::Value command;
        std::string error;
        const std::unique_ptr<Json::CharReader> reader(readers.newCharReader());
        Json::Value reply;
        if (!reader->parse(text.data(), text.data() + text.size(), &command, &error) || !command.isObject()) {
            reply["reply"] = Json::Value();
            reply["error"] = "not a JSON object: " + error;
            writer.post([reply] { return reply; });
            continue;
        }
        const std::string name = command["cmd"].asString();
        reply["reply"] = name;
        if (command.isMember("seq"))
            reply["seq"] = command["seq"];
        const bool exiting = name == "exit";
        if (!exiting && !managers.run(command, reply))
            reply["error"] = "unknown command";
        writer.post([reply] { return reply; });
        if (exiting)
            return;
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options) {
        std::fprintf(stderr, "usage: fv-transfer-driver --app-folder DIR --rest URL [--ca FILE] [--log-dir DIR] "
                             "[--trace]\n");
        return 2;
    }
    // The library logs into the app folder; the log folder keeps this program's own transcript.
    std::unique_ptr<std::ofstream> transcript;
    if (!options->logDir.empty())
        transcript = std::make_unique<std::ofstream>(options->logDir + "/fv-transfer-driver.log", std::ios::app);

    fv_test::HostOptions host;
    host.appFolder = options->appFolder;
    host.restUrl = options->rest;
    host.caFile = options->ca;
    host.trace = options->trace;
    LineWriter writer(transcript.get());
    std::optional<Managers> managers;
    try {
        managers.emplace(std::make_shared<fv_test::LibraryHost>(host), writer);
    } catch (const std::runtime_error&) {
        std::fprintf(stderr, "fv-transfer-driver: the library did not start\n");
        return 3;
    }
    Json::Value ready;
    ready["event"] = "ready";
    ready["pid"] = static_cast<Json::Int64>(::getpid());
    writer.post([ready] { return ready; });
    serve(*managers, writer);
    managers.reset();
    writer.stop();
    return 0;
}
