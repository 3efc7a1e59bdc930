#include "db/DbHolder.h"

#include "core/base/SharedInstanceSlot.h"
#include "core/config/AppFilesDirectory.h"
#include "core/config/FvTransfersGlobalConfig.h"
#include "core/log/FvTransfersLogger.h"

#include <Poco/Data/Extraction.h>
#include <Poco/Data/SessionFactory.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/File.h>
#include <Poco/LocalDateTime.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <vector>

#include <stdio.h>
#include <sys/stat.h>

namespace fv_transfers {

namespace {

const char* const kOldDbFileNames[] = {"fv_transfers.db",    "fv_transfers_v2.db", "fv_transfers_v3.db",
                                       "fv_transfers_v4.db", "fv_transfers_v5.db", "fv_transfers_v6.db",
                                       "fv_transfers_v7.db"};

// What SQLite keeps beside the file; a damaged file's journal must not meet its fresh successor.
const char* const kCompanionSuffixes[] = {"-wal", "-shm", "-journal"};

CSharedInstanceSlot<CDbHolder>& slot()
{
    // Made first, so that the connector registry outlives a holder kept here until exit.
    static Poco::Data::SessionFactory& sessions = Poco::Data::SessionFactory::instance();
    (void)sessions;
    static CSharedInstanceSlot<CDbHolder> instance;
    return instance;
}

CDbConnection::Outcome checkIntegrity(CDbConnection& connection)
{
    std::vector<std::string> problems;
    const CDbConnection::Outcome outcome = connection.attempt("check", "every", [&](Poco::Data::Session& session) {
        session << "PRAGMA quick_check", Poco::Data::Keywords::into(problems), Poco::Data::Keywords::now;
    });
    if (outcome == CDbConnection::Outcome::Done && !(problems.size() == 1 && problems.front() == "ok"))
        return CDbConnection::Outcome::Damaged;
    return outcome;
}

bool renameOwnerOnly(const std::string& from, const std::string& to)
{
    if (::rename(from.c_str(), to.c_str()) != 0) {
        FV_LOG_ERROR("Unable to move " << from << " aside: " << std::strerror(errno));
        return false;
    }
    ::chmod(to.c_str(), S_IRUSR | S_IWUSR);
    return true;
}

// Keeps the damaged file and its companions under one time-stamped name beside them; empty when
// the file itself could not be moved.
std::string moveAside(const std::string& path)
{
    const std::string stamp =
        path + ".damaged-" + Poco::DateTimeFormatter::format(Poco::LocalDateTime(), "%Y%m%d-%H%M%S");
    std::string aside = stamp;
    for (int n = 2; Poco::File(aside).exists(); ++n)
        aside = stamp + "-" + std::to_string(n);
    if (!renameOwnerOnly(path, aside))
        return std::string();
    for (const char* suffix : kCompanionSuffixes) {
        if (Poco::File(path + suffix).exists())
            renameOwnerOnly(path + suffix, aside + suffix);
    }
    return aside;
}

} // namespace

constexpr std::chrono::milliseconds CDbHolder::kStartupBound;

std::string withTrailingSlash(const std::string& folder)
{
    if (!folder.empty() && folder.back() == '/')
        return folder;
    return folder + "/";
}

std::shared_ptr<CDbHolder> CDbHolder::getInstance()
{
    return slot().getOrCreate([] { return openDefault(CDbConnection::kBusyTimeoutSeconds); });
}

bool CDbHolder::createInstance(std::size_t busyTimeoutSeconds)
{
    const bool replaced = slot().replaceUnless(
        [](const std::shared_ptr<CDbHolder>& current) { return current.use_count() > 1 || current->isInUse(); },
        [busyTimeoutSeconds] { return openDefault(busyTimeoutSeconds); });
    if (!replaced) {
        FV_LOG_WARNING("The transfer database is in use; keeping the open connection");
        return false;
    }
    return getInstance()->isConnected();
}

void CDbHolder::releaseInstance()
{
    slot().take();
}

std::shared_ptr<CDbHolder> CDbHolder::openDefault(std::size_t busyTimeoutSeconds)
{
    const std::string path = makeDbFilePath(CFvTransfersGlobalConfig::getDbFileName());
    removeOldDbFiles();
    return std::make_shared<CDbHolder>(path, busyTimeoutSeconds);
}

std::string CDbHolder::makeDbFilePath(const std::string& fileName)
{
    const std::string folder = getAppFilesDirectory();
    return folder.empty() ? fileName : withTrailingSlash(folder) + fileName;
}

void CDbHolder::removeOldDbFiles()
{
    for (const char* name : kOldDbFileNames) {
        try {
            Poco::File file(makeDbFilePath(name));
            if (file.exists())
                file.remove();
        } catch (const std::exception& e) {
            FV_LOG_WARNING("Exception when removing old DB: " << e.what());
        }
    }
}

CDbHolder::CDbHolder(const std::string& dbFilePath, std::size_t busyTimeoutSeconds,
                     std::chrono::milliseconds startupBound)
    : m_startupBound(startupBound), m_startupDeadline(CDbConnection::Clock::now() + startupBound)
{
    m_connection = open(dbFilePath, busyTimeoutSeconds);
    CDbConnection::Outcome health = CDbConnection::Outcome::Failed;
    runStartupStep([&] { health = checkIntegrity(*m_connection); });
    if (health == CDbConnection::Outcome::Damaged) {
        m_connection.reset(); // closed before its file moves
        const std::string aside = moveAside(dbFilePath);
        if (!aside.empty())
            FV_LOG_ERROR("The transfer database was damaged; it is kept as " << aside << " and a new one is started");
        m_connection = open(dbFilePath, busyTimeoutSeconds);
    }
    if (isConnected() && isReadOnly())
        FV_LOG_ERROR("The transfer database "
                     << dbFilePath << " is read-only: stored transfers are restored, new state is not saved");
    // Built even without a connection: users get tables that report failure, never null.
    runStartupStep([&] { createTables(); });
}

std::shared_ptr<CDbConnection> CDbHolder::open(const std::string& dbFilePath, std::size_t busyTimeoutSeconds)
{
    std::string error;
    auto connection = CDbConnection::open(dbFilePath, busyTimeoutSeconds, error);
    if (!connection->isOpen())
        FV_LOG_ERROR("Unable to connect to database. Exception is: " << error);
    return connection;
}

void CDbHolder::runStartupStep(const std::function<void()>& step)
{
    CDbConnection::StartupWait wait(*m_connection, m_startupDeadline);
    step();
    if (!wait.timedOut())
        return;
    FV_LOG_ERROR("The transfer database " << m_connection->path() << " stayed locked by another program for "
                                          << m_startupBound.count() << " ms; transfer state is not saved in this run");
    m_connection->close();
}

void CDbHolder::createTables()
{
    m_groups = std::make_shared<CGroupsDbInfo>(m_connection);
    m_files = std::make_shared<CFilesDbInfo>(m_connection);
    m_channels = std::make_shared<CChannelsDbInfo>(m_connection);
    m_downloadChannels = std::make_shared<CDownloadChannelsDbInfo>(m_connection);
    m_downloadGroups = std::make_shared<CDbDownloadGroupInfoAggregator>(m_connection);
    m_downloadFiles = std::make_shared<CDownloadFilesDbInfo>(m_connection);
}

CDbConnection::Clock::time_point CDbHolder::startupDeadline() const
{
    const auto now = CDbConnection::Clock::now();
    return now < m_startupDeadline ? m_startupDeadline : now + m_startupBound;
}

CDbHolder::~CDbHolder()
{
    // Tables go in reverse order; the connection closes when its last user lets go.
    m_downloadFiles.reset();
    m_downloadGroups.reset();
    m_downloadChannels.reset();
    m_channels.reset();
    m_files.reset();
    m_groups.reset();
}

bool CDbHolder::isInUse() const
{
    return m_groups.use_count() > 1 || m_files.use_count() > 1 || m_channels.use_count() > 1 ||
           m_downloadChannels.use_count() > 1 || m_downloadGroups.use_count() > 1 || m_downloadFiles.use_count() > 1;
}

} // namespace fv_transfers
