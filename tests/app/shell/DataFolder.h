#pragma once

#include "app/shell/RecordingLogger.h"
#include "app/shell/ScopedVariable.h"
#include "support/fixtures/TestEnvironment.h"

#include "shell/AppEnvironment.h"
#include "shell/AppGlobalObjects.h"

#include "core/config/FvTransfersGlobalConfig.h"

#include <Poco/File.h>

#include <string>

namespace fv_test {

// The program's data folder inside a temporary folder (XDG_DATA_HOME points there while the
// object lives), with the global objects over it and a delayed logger that records.
class DataFolder {
public:
    explicit DataFolder(const std::string& executablePath = "/nonexistent/Ferrovan")
    {
        globals.environment = new ferrovan::AppEnvironment(nullptr, executablePath, {});
        globals.transfersConfig = fv_transfers::CFvTransfersGlobalConfig::getInstance();
        globals.delayedLogger = &log;
    }
    DataFolder(const DataFolder&) = delete;
    DataFolder& operator=(const DataFolder&) = delete;

    // A path in the data folder.
    std::string path(const std::string& name) const
    {
        const std::string folder = globals.environment->getAppDataDirectory();
        return folder.back() == '/' ? folder + name : folder + "/" + name;
    }
    // Writes `size` bytes of log-like lines (so a tail has line boundaries to start at).
    void writeLog(const std::string& name, std::size_t size) const { writeFile(path(name), logText(size)); }
    bool exists(const std::string& name) const { return Poco::File(path(name)).exists(); }

    static std::string logText(std::size_t size)
    {
        std::string text;
        text.reserve(size);
        for (int line = 0; text.size() < size; ++line)
            text += "line " + std::to_string(line) + " of a log\n";
        text.resize(size);
        return text;
    }

    RecordingLogger log;
    ferrovan::AppGlobalObjects globals;

private:
    TempDir m_home;
    ScopedVariable m_dataHome{"XDG_DATA_HOME", m_home.path().c_str()};
};

} // namespace fv_test
