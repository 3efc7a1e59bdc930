#include "shell/AppExitFlagsHandler.h"

#include "shell/AppEnvironment.h"
#include "shell/CommandLineParser.h"
#include "shell/ExceptionText.h"
#include "shell/Logger.h"

#include <Poco/File.h>
#include <Poco/Process.h>

#include <algorithm>
#include <exception>

namespace ferrovan {

AppExitFlagsHandler::AppExitFlagsHandler(ILogger* log) : m_log(log) {}

int AppExitFlagsHandler::handleFlags(AppExitFlags& flags, const AppGlobalObjects& globals)
{
    bool restartDue = false;
    std::vector<std::vector<std::string>> restartArguments;
    for (int peeked = flags.peekFlag(); peeked != AppExitFlags::kNone; peeked = flags.peekFlag()) {
        try {
            const std::pair<int, Poco::Any> popped = flags.popFlagWithPayload();
            if (popped.first != peeked)
                throw ModifiedFlagsException();
            if (popped.first != AppExitFlags::kRestart)
                throw std::invalid_argument("Unknown exit flag " + std::to_string(popped.first));
            if (!popped.second.empty())
                restartArguments.push_back(Poco::AnyCast<std::vector<std::string>>(popped.second));
            restartDue = true;
        } catch (const std::exception& e) {
            logLine(m_log, Poco::Message::PRIO_ERROR,
                    "ferrovan::AppExitFlagsHandler::handleFlags: Exception caught when handling exit flag: " +
                        exceptionText(e));
        }
    }
    if (!restartDue)
        return 0;
    if (!globals.environment)
        throw IncompleteGlobalObjects();
    return restart(globals.environment->getExecutablePath(),
                   mergeRestartArguments(restartArguments, static_cast<int>(Poco::Process::id())));
}

std::vector<std::string> AppExitFlagsHandler::mergeRestartArguments(const std::vector<std::vector<std::string>>& queued,
                                                                    int pid)
{
    const std::string waitForPid = CommandLineParser::getWaitForPidOption();
    std::vector<std::string> merged;
    for (const std::vector<std::string>& arguments : queued) {
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            const bool hasValue = i + 1 < arguments.size() && !CommandLineParser::isOption(arguments[i + 1]);
            if (arguments[i] == waitForPid) {
                i += hasValue ? 1 : 0;
                continue;
            }
            if (hasValue) {
                merged.push_back(arguments[i]);
                merged.push_back(arguments[++i]);
            } else if (std::find(merged.begin(), merged.end(), arguments[i]) == merged.end()) {
                merged.push_back(arguments[i]);
            }
        }
    }
    merged.push_back(waitForPid);
    merged.push_back(std::to_string(pid));
    return merged;
}

int AppExitFlagsHandler::restart(const std::string& executablePath, const std::vector<std::string>& arguments)
{
    try {
        // The child reports a failed exec only through its exit code, which nobody reads.
        if (!Poco::File(executablePath).canExecute())
            throw Poco::FileAccessDeniedException("Cannot execute", executablePath);
        return static_cast<int>(Poco::Process::launch(executablePath, arguments).id());
    } catch (const std::exception& e) {
        logLine(m_log, Poco::Message::PRIO_ERROR,
                "ferrovan::AppExitFlagsHandler::handleFlags: Failed to restart " + executablePath + ": " +
                    exceptionText(e));
        return 0;
    }
}

} // namespace ferrovan
