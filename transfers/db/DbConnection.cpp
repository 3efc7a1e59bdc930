#include "db/DbConnection.h"

#include "core/log/FvTransfersLogger.h"

#include <Poco/Data/SQLite/Connector.h>
#include <Poco/Data/SessionFactory.h>
#include <Poco/Exception.h>

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
void prepareOwnerOnlyFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0)
        throw Poco::FileException("cannot create " + path + ": " + std::strerror(errno));
    const bool narrowed = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    const int fchmodErrno = errno;
    ::close(fd);
    if (!narrowed)
        FV_LOG_WARNING("Unable to make the transfer database owner-only: " << std::strerror(fchmodErrno));
}

std::string reasonOf(const std::exception& e)
{
    if (const auto* poco = dynamic_cast<const Poco::Exception*>(&e))
        return poco->displayText();
    return e.what();
}

} // namespace

CDbConnection::CDbConnection(const std::string& path) : m_path(path) {}

std::shared_ptr<CDbConnection> CDbConnection::open(const std::string& path, std::size_t busyTimeoutSeconds,
                                                   std::string& error)
{
    std::shared_ptr<CDbConnection> connection(new CDbConnection(path));
    try {
        Poco::Data::SQLite::Connector::registerConnector();
        connection->m_connectorRegistered = true;
        prepareOwnerOnlyFile(path);
        auto session = std::make_unique<Poco::Data::Session>(Poco::Data::SessionFactory::instance().create(
            Poco::Data::SQLite::Connector::KEY, path, kBusyTimeoutSeconds));
        session->setConnectionTimeout(busyTimeoutSeconds);
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
    return execute(verb, table, body, false);
}

bool CDbConnection::runInTransaction(const char* verb, const std::string& table, const Body& body)
{
    return execute(verb, table, body, true);
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

bool CDbConnection::execute(const char* verb, const std::string& table, const Body& body, bool transactional)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_session)
        return false;
    Poco::Data::Session& session = *m_session;
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
        return true;
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Exception when trying to " << verb << " " << table << " table. " << reasonOf(e));
    }
    if (begun) {
        try {
            session << "ROLLBACK", Poco::Data::Keywords::now;
        } catch (const std::exception& e) {
            FV_LOG_ERROR("Unable to roll back a transaction on " << table << " table. " << reasonOf(e));
        }
    }
    return false;
}

} // namespace fv_transfers
