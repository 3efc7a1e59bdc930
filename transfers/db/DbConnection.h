#pragma once

#include <Poco/Data/Session.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace fv_transfers {

// The one connection to the transfer database, shared by every table object. One mutex
// serialises every statement: a POCO session must not run statements from two threads at once,
// and engine, channel, executor and UI threads all write transfer state.
class CDbConnection {
public:
    static const std::size_t kBusyTimeoutSeconds = 60;

    using Clock = std::chrono::steady_clock;
    using Body = std::function<void(Poco::Data::Session&)>;

    // Why a statement failed; `Damaged` is a file that is no database or has corrupt pages.
    enum class Outcome { Done, Busy, Damaged, Failed };

    // While alive, the statements this thread runs on the connection wait for a file held by
    // another connection only until `deadline`, so a start-up never waits one busy time-out per
    // statement. Other threads keep the busy time-out. A statement that gives up at the deadline
    // is not logged: the owner of the start-up reports it once.
    class StartupWait {
    public:
        StartupWait(CDbConnection& connection, Clock::time_point deadline);
        ~StartupWait();
        StartupWait(const StartupWait&) = delete;
        StartupWait& operator=(const StartupWait&) = delete;

        bool timedOut() const { return m_timedOut; }

    private:
        friend class CDbConnection;
        CDbConnection& m_connection;
        const Clock::time_point m_deadline;
        bool m_timedOut = false; // written by statements of the owning thread only
    };

    // Opens (creating it owner-only when missing) the database file; a file that exists but may
    // not be written is opened read-only and read as it is. A writing open switches the file to
    // write-ahead logging with synchronous=NORMAL (-wal and -shm take the file's owner-only
    // mode). A statement waits up to the busy time-out for another
    // connection or process to release the file. Never throws: a connection that could not be
    // opened refuses every statement, and `error` says why.
    static std::shared_ptr<CDbConnection> open(const std::string& path, std::size_t busyTimeoutSeconds,
                                               std::string& error);

    ~CDbConnection();
    CDbConnection(const CDbConnection&) = delete;
    CDbConnection& operator=(const CDbConnection&) = delete;

    bool isOpen() const;
    // Rows can be read, every write fails.
    bool isReadOnly() const { return m_readOnly; }
    const std::string& path() const { return m_path; }

    // Runs `body` under the database mutex. False when there is no open session (silently: the
    // opener reported that once) or when the body threw; a throw is logged as
    // "Exception when trying to <verb> <table> table. <reason>".
    bool run(const char* verb, const std::string& table, const Body& body);
    // The same inside one transaction, rolled back when any statement fails.
    bool runInTransaction(const char* verb, const std::string& table, const Body& body);
    // The same as run, telling why it failed.
    Outcome attempt(const char* verb, const std::string& table, const Body& body);

    // Closes the session now; every later statement fails. Table users that still hold it get
    // failures rather than a dangling session.
    void close();

private:
    explicit CDbConnection(const std::string& path, std::size_t busyTimeoutSeconds);
    Outcome execute(const char* verb, const std::string& table, const Body& body, bool transactional);
    void closeLocked();
    static int onBusy(void* connection, int attempts);

    const std::string m_path;
    const std::chrono::seconds m_busyTimeout;
    bool m_readOnly = false;
    mutable std::mutex m_mutex;
    std::unique_ptr<Poco::Data::Session> m_session;
    bool m_connectorRegistered = false;
    // Guarded by m_mutex: when the running statement stops waiting, and the start-ups under way.
    Clock::time_point m_waitDeadline;
    std::map<std::thread::id, StartupWait*> m_startupWaits;
};

} // namespace fv_transfers
