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
#include <cstdio>
#include <cstring>
#include <exception>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fv_transfers {

namespace {

// The file holds bucket tokens and signed URLs: it is created owner-only, and a file left with
// wider rights by an older build is narrowed. SQLite gives its -wal and -shm files the file's mode.
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

std::unique_ptr<Poco::Data::Session> openSession(const std::string& connectionString)
{
    return std::make_unique<Poco::Data::Session>(Poco::Data::SessionFactory::instance().create(
        Poco::Data::SQLite::Connector::KEY, connectionString, CDbConnection::kBusyTimeoutSeconds));
}

// False only when SQLite cannot open what reading takes; a busy or damaged file is left to the
// statements and the holder.
bool canOpenForReading(Poco::Data::Session& session)
{
    try {
        int tables = 0;
        session << "SELECT COUNT(*) FROM sqlite_master", Poco::Data::Keywords::into(tables), Poco::Data::Keywords::now;
    } catch (const Poco::Data::SQLite::CantOpenDBFileException&) {
        return false;
    } catch (const Poco::Data::SQLite::ReadOnlyException&) {
        return false; // how a missing -shm that may not be created shows
    } catch (const std::exception&) {
    }
    return true;
}

// Reading a file in write-ahead mode takes a -shm beside it, which SQLite cannot create in a
// folder we may not write: it then refuses even to read. The file is read as it stands on disk,
// which is all of it after its writer closed cleanly.
std::string unlockedReadUri(const std::string& path)
{
    std::string uri = "file:";
    for (const char c : path) {
        if (c == '%' || c == '?' || c == '#') {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
            uri += escaped;
        } else {
            uri += c;
        }
    }
    return uri + "?immutable=1";
}

// A commit in WAL mode with NORMAL sync appends to the log without an fsync of the database,
// which turns a 1000-row channel plan from seconds into milliseconds; a power cut may lose the
// last commits but never corrupts. The mode is stored in the file; the sync level is not, so
// both are set on every writing open. A file held by another program keeps its journal for
// this run rather than failing the open: the start-up decides about a locked file.
void useWriteAheadLog(Poco::Data::Session& session, const std::string& path)
{
    try {
        std::string mode;
        session << "PRAGMA journal_mode=WAL", Poco::Data::Keywords::into(mode), Poco::Data::Keywords::now;
        session << "PRAGMA synchronous=NORMAL", Poco::Data::Keywords::now;
        if (mode != "wal")
            FV_LOG_WARNING("The transfer database " << path << " stays in journal mode " << mode);
    } catch (const std::exception& e) {
        FV_LOG_WARNING("Unable to switch the transfer database " << path << " to write-ahead logging: " << reasonOf(e));
    }
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
        auto session = openSession(path);
        if (connection->m_readOnly && !canOpenForReading(*session))
            session = openSession(unlockedReadUri(path));
        // Our own handler, so that one wait can end at a start-up deadline rather than a time-out.
        ::sqlite3_busy_handler(Poco::Data::SQLite::Utility::dbHandle(*session), &CDbConnection::onBusy,
                               connection.get());
        if (!connection->m_readOnly)
            useWriteAheadLog(*session, path);
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
