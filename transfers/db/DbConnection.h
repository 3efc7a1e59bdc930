#pragma once

#include <Poco/Data/Session.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace fv_transfers {

// The one connection to the transfer database, shared by every table object. One mutex
// serialises every statement: a POCO session must not run statements from two threads at once,
// and engine, channel, executor and UI threads all write transfer state.
class CDbConnection {
public:
    static const std::size_t kBusyTimeoutSeconds = 60;

    using Body = std::function<void(Poco::Data::Session&)>;

    // Opens (creating it owner-only when missing) the database file. A statement waits up to the
    // busy time-out for another connection or process to release the file. Never throws: a
    // connection that could not be opened refuses every statement, and `error` says why.
    static std::shared_ptr<CDbConnection> open(const std::string& path, std::size_t busyTimeoutSeconds,
                                               std::string& error);

    ~CDbConnection();
    CDbConnection(const CDbConnection&) = delete;
    CDbConnection& operator=(const CDbConnection&) = delete;

    bool isOpen() const;
    const std::string& path() const { return m_path; }

    // Runs `body` under the database mutex. False when there is no open session (silently: the
    // opener reported that once) or when the body threw; a throw is logged as
    // "Exception when trying to <verb> <table> table. <reason>".
    bool run(const char* verb, const std::string& table, const Body& body);
    // The same inside one transaction, rolled back when any statement fails.
    bool runInTransaction(const char* verb, const std::string& table, const Body& body);

    // Closes the session now; every later statement fails. Table users that still hold it get
    // failures rather than a dangling session.
    void close();

private:
    explicit CDbConnection(const std::string& path);
    bool execute(const char* verb, const std::string& table, const Body& body, bool transactional);
    void closeLocked();

    const std::string m_path;
    mutable std::mutex m_mutex;
    std::unique_ptr<Poco::Data::Session> m_session;
    bool m_connectorRegistered = false;
};

} // namespace fv_transfers
