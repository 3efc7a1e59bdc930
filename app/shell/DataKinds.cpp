#include "shell/DataKinds.h"

#include "shell/AppEnvironment.h"
#include "shell/ExceptionText.h"
#include "shell/Logger.h"

#include "core/config/FvTransfersGlobalConfig.h"

#include <Poco/DirectoryIterator.h>
#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/Path.h>
#include <Poco/TemporaryFile.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace ferrovan {

namespace {

const char* const kDatabaseSideFiles[] = {"", "-wal", "-shm", "-journal"};

void logSkipped(ILogger* log, const std::string& path, const std::exception& e)
{
    logLine(log, Poco::Message::PRIO_WARNING,
            "ferrovan::DataKinds::listFiles: Skipping " + path + ": " + exceptionText(e));
}

// The regular files in `folder` whose names begin with `prefix`, in name order. A glob is not
// used: the folder's own name may hold characters a pattern would read as wildcards.
std::vector<std::string> filesStartingWith(const std::string& folder, const std::string& prefix, ILogger* log)
{
    std::vector<std::string> found;
    for (Poco::DirectoryIterator it(folder), end; it != end; ++it) {
        if (it.name().compare(0, prefix.size(), prefix) != 0)
            continue;
        try {
            if (it->isFile())
                found.push_back(it.path().toString());
        } catch (const std::exception& e) {
            logSkipped(log, it.path().toString(), e);
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

// A copy of the last `limit` bytes of `path`, from the first line that starts inside them, in a
// folder of its own under the temporary folder, with the original's name.
std::string copyTail(const std::string& path, unsigned long long size, unsigned long long limit)
{
    Poco::FileInputStream in(path);
    // One byte before the tail tells whether the tail starts a line.
    const unsigned long long start = size - limit - 1;
    in.seekg(static_cast<std::streamoff>(start));
    std::string tail(limit + 1, '\0');
    in.read(&tail[0], static_cast<std::streamsize>(tail.size()));
    tail.resize(static_cast<std::size_t>(in.gcount()));
    const std::size_t firstLine = tail.find('\n');
    tail.erase(0, firstLine == std::string::npos ? tail.size() : firstLine + 1);

    const Poco::Path folder(Poco::Path(Poco::TemporaryFile::tempName()).makeDirectory());
    Poco::File(folder).createDirectories();
    Poco::TemporaryFile::registerForDeletion(folder.toString());
    const std::string copy = Poco::Path(folder, Poco::Path(path).getFileName()).toString();
    Poco::FileOutputStream out(copy);
    out.write(tail.data(), static_cast<std::streamsize>(tail.size()));
    out.close();
    if (!out.good())
        throw Poco::WriteFileException(copy);
    return copy;
}

} // namespace

DataKinds::DataKinds(const AppGlobalObjects& globals, ILogger* log) : m_globals(globals), m_log(log)
{
    if (!m_globals.environment)
        throw IncompleteGlobalObjects();
    const std::string appDataDirectory = m_globals.environment->getAppDataDirectory();
    // A relative folder would aim every reset at the working folder.
    if (appDataDirectory.empty() || !Poco::Path(appDataDirectory).isAbsolute())
        throw IncompleteGlobalObjects();
}

DataKindFiles DataKinds::listFiles(int kind) const
{
    switch (kind) {
    case kLocalDatabase: return listDatabase();
    case kWebDataAndCache: return listCache();
    case kLogs: return listLogs(false);
    case kLogsForReport: return listLogs(true);
    case kSettings: return listSettings();
    default: throw std::invalid_argument("Unknown data kind " + std::to_string(kind));
    }
}

DataKindFiles DataKinds::listDatabase() const
{
    requireTransfersConfig();
    // The database runs in WAL mode: a side file left beside a new database would replay old
    // pages into it, so they go together.
    DataKindFiles files;
    const std::string database =
        m_globals.environment->inAppDataDirectory(fv_transfers::CFvTransfersGlobalConfig::getDbFileName());
    for (const char* suffix : kDatabaseSideFiles)
        addIfExists(files, database + suffix, true);
    return files;
}

DataKindFiles DataKinds::listCache() const
{
    DataKindFiles files;
    addIfExists(files, m_globals.environment->getCacheDirectory(), false);
    return files;
}

DataKindFiles DataKinds::listLogs(bool forReport) const
{
    requireTransfersConfig();
    DataKindFiles files;
    addLogs(files, m_globals.environment->inAppDataDirectory(m_globals.transfersConfig->getFirstLogFileName()),
            forReport);
    addLogs(files, m_globals.environment->getAppLogFilePath(), forReport);
    addBrowserLog(files, forReport);
    return files;
}

DataKindFiles DataKinds::listSettings() const
{
    DataKindFiles files;
    addIfExists(files, m_globals.environment->getSettingsFilePath(), true);
    return files;
}

void DataKinds::addIfExists(DataKindFiles& files, const std::string& path, bool isFile) const
{
    try {
        if (Poco::File(path).exists())
            files[path] = isFile;
    } catch (const std::exception& e) {
        logSkipped(m_log, path, e);
    }
}

// `firstPath` and its rotated files; for a report the list stops with the file that brings it
// to the limit.
void DataKinds::addLogs(DataKindFiles& files, const std::string& firstPath, bool forReport) const
{
    const Poco::Path first(firstPath);
    unsigned long long total = 0;
    for (const std::string& path : filesStartingWith(first.parent().toString(), first.getFileName(), m_log)) {
        if (forReport && total >= kReportListLimit)
            break;
        try {
            if (forReport)
                total += Poco::File(path).getSize();
            files[path] = true;
        } catch (const std::exception& e) {
            logSkipped(m_log, path, e);
        }
    }
}

// A reset takes the browser log itself; a report takes at most its last 2 MiB.
void DataKinds::addBrowserLog(DataKindFiles& files, bool forReport) const
{
    const std::string path = m_globals.environment->getCefLogFilePath();
    try {
        Poco::File file(path);
        if (!file.exists())
            return;
        const unsigned long long size = file.getSize();
        if (!forReport || size <= kReportBrowserLogLimit)
            files[path] = true;
        else
            files[copyTail(path, size, kReportBrowserLogLimit)] = true;
    } catch (const std::exception& e) {
        logSkipped(m_log, path, e);
    }
}

void DataKinds::requireTransfersConfig() const
{
    if (m_globals.transfersConfig == nullptr)
        throw IncompleteGlobalObjects();
}

} // namespace ferrovan
