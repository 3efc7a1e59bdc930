#include "core/log/FvTransfersLogger.h"

#include "core/base/PrivateDirectory.h"
#include "core/log/LogRedaction.h"

#include <Poco/Message.h>
#include <Poco/PatternFormatter.h>

#include <cerrno>
#include <exception>
#include <sys/stat.h>

namespace fv_transfers {

const char* const CFvTransfersLogger::kLoggerName = "FvTransfersLogger";

namespace {

const char* const kLogFileName = "fv_transfers.log";

// Its chain is closed by unitialize and at process exit; guarded by the global mutex.
CFvTransfersLogger& holder()
{
    static CFvTransfersLogger instance;
    return instance;
}

Poco::Message::Priority toPriority(LogLevel level)
{
    switch (level) {
    case LogLevel::error: return Poco::Message::PRIO_ERROR;
    case LogLevel::warning: return Poco::Message::PRIO_WARNING;
    case LogLevel::information: return Poco::Message::PRIO_INFORMATION;
    case LogLevel::debug: return Poco::Message::PRIO_DEBUG;
    case LogLevel::trace: return Poco::Message::PRIO_TRACE;
    }
    return Poco::Message::PRIO_INFORMATION;
}

// Guarded by the global mutex.
std::string& logFolder()
{
    static std::string folder;
    return folder;
}

std::string logFilePath(const std::string& folder)
{
    createPrivateDirectory(folder);
    return folder.empty() ? std::string(kLogFileName) : folder + "/" + kLogFileName;
}

// Runs `use` on the logger under the global mutex, opening its chain first when it is
// closed.
template <typename Use> void withLogger(Use use)
{
    Poco::FastMutex::ScopedLock lock(CFvTransfersLogger::globalMutex());
    CFvTransfersLogger* logger = CFvTransfersLogger::openedUnderLock();
    if (logger)
        use(*logger);
}

} // namespace

void setLogFolder(const std::string& folder)
{
    Poco::FastMutex::ScopedLock lock(CFvTransfersLogger::globalMutex());
    logFolder() = folder;
}

std::string getLogFilePath()
{
    std::string folder;
    {
        Poco::FastMutex::ScopedLock lock(CFvTransfersLogger::globalMutex());
        folder = logFolder();
    }
    return logFilePath(folder);
}

Poco::FastMutex& CFvTransfersLogger::globalMutex()
{
    static Poco::FastMutex mutex;
    return mutex;
}

CFvTransfersLogger* CFvTransfersLogger::getInstance()
{
    Poco::FastMutex::ScopedLock lock(globalMutex());
    return openedUnderLock();
}

CFvTransfersLogger* CFvTransfersLogger::openedUnderLock()
{
    CFvTransfersLogger& instance = holder();
    if (instance.isOpen() && instance.folderGone())
        instance.close(); // nothing rotated yet: closing is safe, and the folder comes back below
    if (!instance.isOpen()) {
        try {
            instance.m_folder = logFolder();
            instance.open(logFilePath(instance.m_folder));
        } catch (const std::exception&) {
            instance.close();
            return nullptr;
        }
    }
    return &instance;
}

void CFvTransfersLogger::destroyInstance()
{
    Poco::FastMutex::ScopedLock lock(globalMutex());
    holder().close();
}

void CFvTransfersLogger::open(const std::string& path)
{
    m_fileChannel = new Poco::FileChannel(path);
    m_fileChannel->setProperty("rotation", "2 M");
    m_fileChannel->setProperty("purgeCount", "5");

    Poco::AutoPtr<Poco::PatternFormatter> formatter(
        new Poco::PatternFormatter("[%n-%e-%y %H:%M:%S:%i] [%I %T] [%p] %t"));
    formatter->setProperty("times", "local");
    m_formattingChannel = new Poco::FormattingChannel(formatter, m_fileChannel);

    m_logger = &Poco::Logger::create(kLoggerName, m_formattingChannel, Poco::Message::PRIO_INFORMATION);
    m_logStream = std::make_unique<Poco::LogStream>(*m_logger, Poco::Message::PRIO_DEBUG);
}

bool CFvTransfersLogger::folderGone() const
{
    struct stat status {};
    return !m_folder.empty() && ::stat(m_folder.c_str(), &status) != 0 && errno == ENOENT;
}

void CFvTransfersLogger::write(Poco::Message::Priority priority, const std::string& line)
{
    Poco::LogStream& out = stream();
    try {
        out.priority(priority) << line << std::endl;
    } catch (const std::exception&) {
        out.setstate(std::ios::badbit);
    }
    if (out.good())
        return;
    abandon();
}

void CFvTransfersLogger::abandon()
{
    if (m_fileChannel)
        m_fileChannel->duplicate(); // leaked on purpose: its close would free a freed file
    close();
}

CFvTransfersLogger::~CFvTransfersLogger()
{
    close();
}

void CFvTransfersLogger::close()
{
    const bool registered = m_logger != nullptr;
    m_logStream.reset();
    m_logger = nullptr;
    if (registered)
        Poco::Logger::destroy(kLoggerName);
    m_formattingChannel.reset();
    if (m_fileChannel && m_fileChannel->referenceCount() == 1)
        m_fileChannel->close();
    m_fileChannel.reset();
}

bool logEnabled(LogLevel level)
{
    bool enabled = false;
    withLogger([&](CFvTransfersLogger& logger) { enabled = logger.logger().is(toPriority(level)); });
    return enabled;
}

void logWrite(LogLevel level, const std::string& text)
{
    try {
        const std::string line = redactSecrets(text);
        withLogger([&](CFvTransfersLogger& logger) { logger.write(toPriority(level), line); });
    } catch (const std::exception&) {
        // A failure to log never reaches the caller.
    }
}

} // namespace fv_transfers
