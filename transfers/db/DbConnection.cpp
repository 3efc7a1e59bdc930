#include "db/DbConnection.h"

#include "core/log/FvTransfersLogger.h"

#include <Poco/Data/SQLite/Connector.h>
#include <Poco/Data/SQLite/SQLiteException.h>
#include <Poco/Data/SQLite/Utility.h>
#include <Poco/Data/SessionFactory.h>
#include <Poco/Exception.h>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fv_transfers {

namespace {

// The file holds bucket tokens and signed URLs: it is created owner-only, and a file left with
// wider rights by an older build is narrowed. SQLite gives its journal the file's mode.
// False for a file that exists but may not be written: SQLite then opens it read-only.
bool prepareOwnerOnlyFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        const int openErrno = errno;
        if ((openErrno == EACCES || openErrno == EPERM || openErrno == EROFS) && ::access(path.c_str(), R_OK) == 0)
            return false;
        throw Poco::FileException("cannot create " + path + ": " + std::strerror(openErrno));
    }
    const bool narrowed = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    const int fchmodErrno = errno;
    ::close(fd);
    if (!narrowed)
        FV_LOG_WARNING("Unable to make the transfer database owner-only: " << std::strerror(fchmodErrno));
    return true;
}

std::string reasonOf(const std::exception& e)
{
    if (const auto* poco = dynamic_cast<const Poco::Exception*>(&e))
        return poco->displayText();
    return e.what();
}

CDbConnection::Outcome outcomeOf(const std::exception& e)
{
    if (dynamic_cast<const Poco::Data::SQLite::DBLockedException*>(&e) ||
        dynamic_cast<const Poco::Data::SQLite::TableLockedException*>(&e))
        return CDbConnection::Outcome::Busy;
    // SQLITE_NOTADB and SQLITE_CORRUPT both arrive as this one.
    if (dynamic_cast<const Poco::Data::SQLite::CorruptImageException*>(&e))
        return CDbConnection::Outcome::Damaged;
    return CDbConnection::Outcome::Failed;
}

} // namespace

CDbConnection::StartupWait::StartupWait(CDbConnection& connection, Clock::time_point deadline)
    : m_connection(connection), m_deadline(deadline)
{
    std::lock_guard<std::mutex> lock(m_connection.m_mutex);
    m_connection.m_startupWaits[std::this_thread::get_id()] = this;
}

CDbConnection::StartupWait::~StartupWait()
{
    std::lock_guard<std::mutex> lock(m_connection.m_mutex);
    m_connection.m_startupWaits.erase(std::this_thread::get_id());
}

CDbConnection::CDbConnection(const std::string& path, std::size_t busyTimeoutSeconds)
    : m_path(path), m_busyTimeout(static_cast<std::chrono::seconds::rep>(busyTimeoutSeconds))
{
}

std::shared_ptr<CDbConnection> CDbConnection::open(const std::string& path, std::size_t busyTimeoutSeconds,
                                                   std::string& error)
{
    std::shared_ptr<CDbConnection> connection(new CDbConnection(path, busyTimeoutSeconds));
    try {
        Poco::Data::SQLite::Connector::registerConnector();
        connection->m_connectorRegistered = true;
        connection->m_readOnly = !prepareOwnerOnlyFile(path);
        auto session = std::make_unique<Poco::Data::Session>(Poco::Data::SessionFactory::instance().create(
            Poco::Data::SQLite::Connector::KEY, path, kBusyTimeoutSeconds));
        // Our own handler, so that one wait can end at a start-up deadline rather than a time-out.
        ::sqlite3_busy_handler(Poco::Data::SQLite::Utility::dbHandle(*session), &CDbConnection::onBusy,
                               connection.get());
        connection->m_session = std::move(session);
    } catch (const std::exception& e) {
        error = reasonOf(e);
    }
    return connection;
}

CDbConnection::~CDbConnection()
{
    closeLocked();
    // Unregistered only once the session is closed; the connector counts registrations.
    if (m_connectorRegistered) {
        try {
            Poco::Data::SQLite::Connector::unregisterConnector();
        } catch (const std::exception&) {
        }
    }
}

bool CDbConnection::isOpen() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_session != nullptr;
}

bool CDbConnection::run(const char* verb, const std::string& table, const Body& body)
{
    return execute(verb, table, body, false) == Outcome::Done;
}

bool CDbConnection::runInTransaction(const char* verb, const std::string& table, const Body& body)
{
    return execute(verb, table, body, true) == Outcome::Done;
}

CDbConnection::Outcome CDbConnection::attempt(const char* verb, const std::string& table, const Body& body)
{
    return execute(verb, table, body, false);
}

int CDbConnection::onBusy(void* connection, int attempts)
{
    // Runs inside a statement, so under m_mutex.
    const auto remaining = static_cast<CDbConnection*>(connection)->m_waitDeadline - Clock::now();
    if (remaining <= Clock::duration::zero())
        return 0;
    const auto backoff = std::chrono::milliseconds(std::min(50, 1 << std::min(attempts, 6)));
    const auto pause = std::min<Clock::duration>(remaining, backoff);
    ::sqlite3_sleep(
        std::max(1, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(pause).count())));
    return 1;
}

void CDbConnection::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    closeLocked();
}

void CDbConnection::closeLocked()
{
    if (!m_session)
        return;
    try {
        m_session->close();
    } catch (const std::exception&) {
    }
    m_session.reset();
}

CDbConnection::Outcome CDbConnection::execute(const char* verb, const std::string& table, const Body& body,
                                              bool transactional)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_session)
        return Outcome::Failed;
    Poco::Data::Session& session = *m_session;
    const auto startup = m_startupWaits.find(std::this_thread::get_id());
    StartupWait* const startupWait = startup == m_startupWaits.end() ? nullptr : startup->second;
    m_waitDeadline = Clock::now() + m_busyTimeout;
    if (startupWait)
        m_waitDeadline = std::min(m_waitDeadline, startupWait->m_deadline);
    Outcome outcome = Outcome::Done;
    bool begun = false;
    try {
        if (transactional) {
            // IMMEDIATE takes the write lock up front, so another process holding the file makes
            // us wait for the busy time-out instead of failing half-way.
            session << "BEGIN IMMEDIATE", Poco::Data::Keywords::now;
            begun = true;
        }
        body(session);
        if (begun)
            session << "COMMIT", Poco::Data::Keywords::now;
        return Outcome::Done;
    } catch (const std::exception& e) {
        outcome = outcomeOf(e);
        if (startupWait && outcome == Outcome::Busy)
            startupWait->m_timedOut = true;
        else
            FV_LOG_ERROR("Exception when trying to " << verb << " " << table << " table. " << reasonOf(e));
    }
    if (begun) {
        try {
            session << "ROLLBACK", Poco::Data::Keywords::now;
        } catch (const std::exception& e) {
            FV_LOG_ERROR("Unable to roll back a transaction on " << table << " table. " << reasonOf(e));
        }
    }
    return outcome;
}

} // namespace fv_transfers
