#pragma once

#include "shell/AppGlobalObjects.h"

#include <map>
#include <string>

namespace ferrovan {

class ILogger;

// The kinds of stored data that can be reset or attached to an issue report. The numbers are
// stored in restart command lines and the clear-data choice: never renumber them.
enum DataKind {
    kLocalDatabase = 0,
    kWebDataAndCache = 1,
    kLogs = 2,
    kLogsForReport = 3,
    kSettings = 4,
};

// Path -> true for a file, false for a folder (taken with everything in it).
using DataKindFiles = std::map<std::string, bool>;

// The files that make up each data kind, as they are when listed: only what exists is listed,
// and a file that cannot be looked at is logged and left out, so one bad file never hides the
// rest. Kind 2 is what a reset removes (the logs themselves); kind 3 is what an issue report
// attaches: each log list cut once it reaches 1 MiB, and a browser log over 2 MiB replaced by a
// temporary copy of its last whole lines (removed when the process exits).
class DataKinds {
public:
    // `log` (may be null) receives the lines about files left out.
    DataKinds(const AppGlobalObjects& globals, ILogger* log);

    // Throws IncompleteGlobalObjects when the kind needs a member that is missing, and
    // std::invalid_argument for an unknown kind.
    DataKindFiles listFiles(int kind) const;

    static constexpr unsigned long long kReportListLimit = 1048576;
    static constexpr unsigned long long kReportBrowserLogLimit = 2097152;

private:
    DataKindFiles listDatabase() const;
    DataKindFiles listCache() const;
    DataKindFiles listLogs(bool forReport) const;
    DataKindFiles listSettings() const;
    void addIfExists(DataKindFiles& files, const std::string& path, bool isFile) const;
    void addLogs(DataKindFiles& files, const std::string& firstPath, bool forReport) const;
    void addBrowserLog(DataKindFiles& files, bool forReport) const;
    void requireTransfersConfig() const;

    AppGlobalObjects m_globals;
    ILogger* m_log;
};

} // namespace ferrovan
