#include "shell/CommandLineCommandsHandler.h"

#include "shell/AppEnvironment.h"
#include "shell/DataKinds.h"
#include "shell/ExceptionText.h"
#include "shell/Logger.h"
#include "shell/PlatformServices.h"

#include <Poco/File.h>

#include <exception>

namespace ferrovan {

CommandLineCommandsHandler::CommandLineCommandsHandler(const CommandLineArguments& arguments,
                                                       const AppGlobalObjects& globals, unsigned int waitTimeoutMs)
    : m_arguments(arguments), m_globals(globals), m_waitTimeoutMs(waitTimeoutMs)
{
    if (m_globals.delayedLogger == nullptr)
        throw IncompleteGlobalObjects();
}

void CommandLineCommandsHandler::waitForPreviousProcess()
{
    for (const std::string& warning : m_arguments.warnings)
        logLine(m_globals.delayedLogger, Poco::Message::PRIO_WARNING, warning);
    if (m_arguments.waitForPid == 0)
        return;
    try {
        if (!waitForProcessExit(m_arguments.waitForPid, m_waitTimeoutMs))
            logLine(m_globals.delayedLogger, Poco::Message::PRIO_WARNING,
                    "ferrovan::CommandLineCommandsHandler::waitForPreviousProcess: Failed to wait for completion of "
                    "the process with pid: " +
                        std::to_string(m_arguments.waitForPid));
    } catch (const std::exception& e) {
        logError("waitForPreviousProcess", e);
    }
}

void CommandLineCommandsHandler::runCommands()
{
    if (m_arguments.removeCefLog)
        removeBrowserLog();
    for (int kind : m_arguments.dataKinds)
        resetDataKind(kind);
}

void CommandLineCommandsHandler::removeBrowserLog()
{
    try {
        if (!m_globals.environment)
            throw IncompleteGlobalObjects();
        const std::string path = m_globals.environment->getCefLogFilePath();
        if (Poco::File(path).exists())
            remove(path, true);
    } catch (const std::exception& e) {
        logError("runCommands", e);
    }
}

void CommandLineCommandsHandler::resetDataKind(int kind)
{
    DataKindFiles files;
    try {
        files = DataKinds(m_globals, m_globals.delayedLogger).listFiles(kind);
    } catch (const std::exception& e) {
        logError("runCommands", e);
        return;
    }
    for (const auto& file : files) {
        try {
            remove(file.first, file.second);
        } catch (const std::exception& e) {
            logError("runCommands", e);
        }
    }
}

void CommandLineCommandsHandler::remove(const std::string& path, bool isFile)
{
    logLine(m_globals.delayedLogger, Poco::Message::PRIO_INFORMATION,
            "ferrovan::CommandLineCommandsHandler::runCommands: Removing file: " + path);
    Poco::File(path).remove(!isFile);
}

void CommandLineCommandsHandler::logError(const std::string& function, const std::exception& e)
{
    logLine(m_globals.delayedLogger, Poco::Message::PRIO_ERROR,
            "ferrovan::CommandLineCommandsHandler::" + function +
                ": Exception caught when handling command line command: " + exceptionText(e));
}

} // namespace ferrovan
