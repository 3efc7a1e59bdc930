#pragma once

#include <Poco/AutoPtr.h>
#include <Poco/FileChannel.h>
#include <Poco/FormattingChannel.h>
#include <Poco/LogStream.h>
#include <Poco/Message.h>
#include <Poco/Logger.h>
#include <Poco/Mutex.h>

#include <memory>
#include <sstream>
#include <string>

namespace fv_transfers {

// The library's own rotating log file and the one mutex that every log line takes.
class CFvTransfersLogger {
public:
    static const char* const kLoggerName; // "FvTransfersLogger"

    // Opens the process's holder (and so the log file) on first use; null when that failed.
    // The holder lives as long as the process, so the pointer never dangles.
    static CFvTransfersLogger* getInstance();
    // Closes the holder's chain; the next line opens a new one that appends to the same file.
    static void destroyInstance();
    // Serialises every log line of the library; always taken last, inside other locks.
    static Poco::FastMutex& globalMutex();

    CFvTransfersLogger() = default;
    ~CFvTransfersLogger();
    CFvTransfersLogger(const CFvTransfersLogger&) = delete;
    CFvTransfersLogger& operator=(const CFvTransfersLogger&) = delete;

    // The holder, opened when it is not; null when that failed. Under globalMutex() only.
    static CFvTransfersLogger* openedUnderLock();

    Poco::LogStream& stream() { return *m_logStream; }
    Poco::Logger& logger() { return *m_logger; }
    // Writes one line. A line that fails leaves the file channel in a state POCO cannot close
    // safely (a failed rotation frees its file and keeps the pointer): the chain is then let go
    // without closing it, and the next line opens a new one.
    void write(Poco::Message::Priority priority, const std::string& line);

private:
    // Builds the logging chain on the given file; throws when it cannot.
    void open(const std::string& path);
    void close();
    // Drops the chain without closing the file channel, which is kept alive for good.
    void abandon();
    bool isOpen() const { return static_cast<bool>(m_logStream); }
    // The file's folder is gone (removed by the user): rotation there would fail.
    bool folderGone() const;

    Poco::AutoPtr<Poco::FileChannel> m_fileChannel;
    Poco::Logger* m_logger = nullptr; // owned by POCO's registry until destroy
    std::unique_ptr<Poco::LogStream> m_logStream;
    Poco::AutoPtr<Poco::FormattingChannel> m_formattingChannel;
    std::string m_folder; // of the open file; empty: the current directory
};

// The folder of the log file, set by the configuration with the app files path; empty (the
// start) means the current directory. A logger already made keeps its file until
// destroyInstance.
void setLogFolder(const std::string& folder);
// "<log folder>/fv_transfers.log", creating the folder, or the bare name when no folder is set.
std::string getLogFilePath();

enum class LogLevel { error, warning, information, debug, trace };

// Whether a line at this level would be written (creates the logger on first use).
bool logEnabled(LogLevel level);
// Writes one whole line with secrets masked; never throws.
void logWrite(LogLevel level, const std::string& text);

} // namespace fv_transfers

// FV_LOG_INFO("Sending " << n << " bytes"); formatting happens only when the level is on.
#define FV_LOG_AT(level, expr)                                                                                         \
    do {                                                                                                               \
        if (::fv_transfers::logEnabled(level)) {                                                                       \
            std::ostringstream fv_log_os_;                                                                             \
            fv_log_os_ << expr;                                                                                        \
            ::fv_transfers::logWrite(level, fv_log_os_.str());                                                         \
        }                                                                                                              \
    } while (0)
#define FV_LOG_ERROR(expr) FV_LOG_AT(::fv_transfers::LogLevel::error, expr)
#define FV_LOG_WARNING(expr) FV_LOG_AT(::fv_transfers::LogLevel::warning, expr)
#define FV_LOG_INFO(expr) FV_LOG_AT(::fv_transfers::LogLevel::information, expr)
#define FV_LOG_DEBUG(expr) FV_LOG_AT(::fv_transfers::LogLevel::debug, expr)
#define FV_LOG_TRACE(expr) FV_LOG_AT(::fv_transfers::LogLevel::trace, expr)
