#pragma once

#include "shell/Logger.h"
#include "shell/PrivateFileChannel.h"

#include <Poco/AutoPtr.h>
#include <Poco/FormattingChannel.h>
#include <Poco/LogStream.h>
#include <Poco/Mutex.h>

#include <memory>
#include <string>

namespace ferrovan {

// The program's one log file, "fv_app.log", rotated at 2 MiB with five old files kept. Any
// thread may write; lock() takes the same recursive mutex as getInstance, so a line is whole
// and a component that logs while holding the lock does not deadlock. Until setLogFilePath the
// lines go nowhere: start-up keeps them in the delayed logger instead.
class CFerrovanLogger : public ILogger {
public:
    // Creates the logger on the first call; null never in practice.
    static ILogger* getInstance();
    // Ends the logger and closes its file; the next getInstance makes a new one.
    static void destroyInstance();
    // Opens the log at `path` from the next line on; an empty path changes nothing.
    static void setLogFilePath(const std::string& path);
    // On: every line, trace included. Off: information and above, as at start.
    static void setVerbose(bool on);

    ~CFerrovanLogger() override;
    CFerrovanLogger(const CFerrovanLogger&) = delete;
    CFerrovanLogger& operator=(const CFerrovanLogger&) = delete;

    Poco::LogStream& getStream() override;
    void lock() override;
    void unlock() override;

private:
    CFerrovanLogger();

    static Poco::Mutex& mutex();
    static std::unique_ptr<CFerrovanLogger>& instance();
    static CFerrovanLogger& createdUnderLock();
    // The file channel, replaced first when a failed line spoiled it. Under the lock.
    PrivateFileChannel& usableChannel();

    Poco::AutoPtr<PrivateFileChannel> m_fileChannel;
    Poco::AutoPtr<Poco::FormattingChannel> m_formatter;
    std::unique_ptr<Poco::LogStream> m_stream;
};

} // namespace ferrovan
