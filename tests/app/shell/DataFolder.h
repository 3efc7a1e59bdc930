#pragma once

#include "app/shell/RecordingLogger.h"
#include "support/fixtures/TestEnvironment.h"

#include "shell/AppEnvironment.h"
#include "shell/AppGlobalObjects.h"

#include "core/config/FvTransfersGlobalConfig.h"

#include <Poco/File.h>

#include <cstdlib>
#include <string>

namespace fv_test {

// The program's data folder inside a temporary folder (XDG_DATA_HOME points there while the
// object lives), with the global objects over it and a delayed logger that records.
class DataFolder {
public:
    explicit DataFolder(const std::string& executablePath = "/nonexistent/Ferrovan")
    {
        const char* previous = std::getenv("XDG_DATA_HOME");
        m_hadDataHome = previous != nullptr;
        m_previousDataHome = previous ? previous : "";
        ::setenv("XDG_DATA_HOME", m_home.path().c_str(), 1);
        globals.environment = new ferrovan::AppEnvironment(nullptr, executablePath, {});
        globals.transfersConfig = fv_transfers::CFvTransfersGlobalConfig::getInstance();
        globals.delayedLogger = &log;
    }
    ~DataFolder()
    {
        if (m_hadDataHome)
            ::setenv("XDG_DATA_HOME", m_previousDataHome.c_str(), 1);
        else
            ::unsetenv("XDG_DATA_HOME");
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
    bool m_hadDataHome = false;
    std::string m_previousDataHome;
};

} // namespace fv_test
