#include "shell/FerrovanLogger.h"

#include "shell/LogFormatter.h"

#include <Poco/Logger.h>

namespace ferrovan {

namespace {

const char* const kLoggerName = "FerrovanLogger";

} // namespace

Poco::Mutex& CFerrovanLogger::mutex()
{
    static Poco::Mutex mutex;
    return mutex;
}

std::unique_ptr<CFerrovanLogger>& CFerrovanLogger::instance()
{
    static std::unique_ptr<CFerrovanLogger> instance;
    return instance;
}

CFerrovanLogger& CFerrovanLogger::createdUnderLock()
{
    std::unique_ptr<CFerrovanLogger>& logger = instance();
    if (!logger)
        logger.reset(new CFerrovanLogger());
    return *logger;
}

ILogger* CFerrovanLogger::getInstance()
{
    Poco::Mutex::ScopedLock guard(mutex());
    return &createdUnderLock();
}

void CFerrovanLogger::destroyInstance()
{
    // Under the lock: a line being written ends before its logger does.
    Poco::Mutex::ScopedLock guard(mutex());
    instance().reset();
}

void CFerrovanLogger::setLogFilePath(const std::string& path)
{
    if (path.empty())
        return;
    Poco::Mutex::ScopedLock guard(mutex());
    PrivateFileChannel& channel = createdUnderLock().usableChannel();
    // The channel keeps an open file until it is closed, so a new path needs a reopen.
    channel.close();
    channel.setProperty(Poco::FileChannel::PROP_PATH, path);
}

void CFerrovanLogger::setVerbose(bool on)
{
    Poco::Mutex::ScopedLock guard(mutex());
    createdUnderLock();
    Poco::Logger::get(kLoggerName).setLevel(on ? Poco::Message::PRIO_TRACE : Poco::Message::PRIO_INFORMATION);
}

CFerrovanLogger::CFerrovanLogger() : m_fileChannel(Poco::makeAuto<PrivateFileChannel>())
{
    m_fileChannel->setProperty(Poco::FileChannel::PROP_ROTATION, "2 M");
    m_fileChannel->setProperty(Poco::FileChannel::PROP_PURGECOUNT, "5");
    m_fileChannel->setProperty(Poco::FileChannel::PROP_FLUSH, "true");
    m_formatter = createLogFormatter(m_fileChannel);
    Poco::Logger& logger = Poco::Logger::create(kLoggerName, m_formatter, Poco::Message::PRIO_INFORMATION);
    m_stream = std::make_unique<Poco::LogStream>(logger, Poco::Message::PRIO_DEBUG);
}

CFerrovanLogger::~CFerrovanLogger()
{
    m_stream.reset();
    Poco::Logger::destroy(kLoggerName);
    m_fileChannel->close();
}

Poco::LogStream& CFerrovanLogger::getStream()
{
    Poco::Mutex::ScopedLock guard(mutex());
    usableChannel();
    return *m_stream;
}

PrivateFileChannel& CFerrovanLogger::usableChannel()
{
    if (m_fileChannel->isSpoiled()) {
        m_fileChannel = m_fileChannel->replacement();
        m_formatter = createLogFormatter(m_fileChannel);
        Poco::Logger::get(kLoggerName).setChannel(m_formatter);
    }
    return *m_fileChannel;
}

void CFerrovanLogger::lock()
{
    mutex().lock();
}

void CFerrovanLogger::unlock()
{
    mutex().unlock();
}

} // namespace ferrovan
