#include "browser/BrowserLog.h"

#include "shell/FerrovanLogger.h"
#include "shell/LogFormatter.h"
#include "shell/PrivateFileChannel.h"

#include <Poco/AutoPtr.h>
#include <Poco/FormattingChannel.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace ferrovan {

namespace {

constexpr const char* kWhere = "ferrovan::BrowserLog";
constexpr const char* kSource = "BrowserLog";

struct OpenLog {
    std::mutex mutex;
    Poco::AutoPtr<PrivateFileChannel> channel; // null while closed
    Poco::AutoPtr<Poco::FormattingChannel> formatter;
};

OpenLog& openLog()
{
    static OpenLog log;
    return log;
}

void logFailure(const std::string& text)
{
    try {
        logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_ERROR, std::string(kWhere) + "::" + text);
    } catch (...) {
    }
}

// Creates the file private when missing and empties it when it has grown past the limit; the
// channel then only appends. False when the file cannot be opened for writing.
bool prepareFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        logFailure("open: cannot open \"" + path + "\": " + std::strerror(errno));
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) == 0 && static_cast<unsigned long long>(status.st_size) > BrowserLog::kMaxBytes &&
        ::ftruncate(fd, 0) != 0)
        logFailure("open: cannot empty \"" + path + "\": " + std::strerror(errno));
    ::close(fd);
    return true;
}

void closeUnderLock(OpenLog& log)
{
    if (log.channel)
        log.channel->close();
    log.formatter = nullptr;
    log.channel = nullptr;
}

void useChannel(OpenLog& log, Poco::AutoPtr<PrivateFileChannel> channel)
{
    log.channel = std::move(channel);
    log.formatter = createLogFormatter(log.channel);
}

} // namespace

void BrowserLog::open(const std::string& path)
{
    try {
        OpenLog& log = openLog();
        std::lock_guard<std::mutex> lock(log.mutex);
        closeUnderLock(log);
        if (path.empty() || !prepareFile(path))
            return;
        auto channel = Poco::makeAuto<PrivateFileChannel>();
        channel->setProperty(Poco::FileChannel::PROP_PATH, path);
        channel->setProperty(Poco::FileChannel::PROP_FLUSH, "true");
        useChannel(log, std::move(channel));
    } catch (const std::exception& error) {
        logFailure(std::string("open: ") + error.what());
    }
}

void BrowserLog::close()
{
    try {
        OpenLog& log = openLog();
        std::lock_guard<std::mutex> lock(log.mutex);
        closeUnderLock(log);
    } catch (const std::exception& error) {
        logFailure(std::string("close: ") + error.what());
    }
}

void BrowserLog::write(Poco::Message::Priority priority, const std::string& text)
{
    try {
        const Poco::Message message(kSource, text, priority);
        OpenLog& log = openLog();
        std::lock_guard<std::mutex> lock(log.mutex);
        if (!log.channel)
            return;
        // A spoiled channel writes nothing more; a fresh one takes over from the next line.
        if (log.channel->isSpoiled())
            useChannel(log, log.channel->replacement());
        log.formatter->log(message);
    } catch (const std::exception& error) {
        logFailure(std::string("write: ") + error.what());
    }
}

} // namespace ferrovan
