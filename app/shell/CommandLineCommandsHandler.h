#pragma once

#include "shell/AppGlobalObjects.h"
#include "shell/CommandLineArguments.h"

#include <string>

namespace ferrovan {

// Runs what the command line asks for before logging starts; every line goes to the delayed
// logger. Two steps, because the single-instance guard must run between them: a restarted
// program first waits for the old one, and removes data only once it holds the guard, so a
// wait that timed out never deletes a running instance's files.
class CommandLineCommandsHandler {
public:
    static constexpr unsigned int kDefaultWaitTimeoutMs = 30000;

    // Throws IncompleteGlobalObjects without the delayed logger. `arguments` must outlive the
    // handler: the run that parsed them owns them.
    CommandLineCommandsHandler(const CommandLineArguments& arguments, const AppGlobalObjects& globals,
                               unsigned int waitTimeoutMs = kDefaultWaitTimeoutMs);
    CommandLineCommandsHandler(CommandLineArguments&& arguments, const AppGlobalObjects& globals,
                               unsigned int waitTimeoutMs = kDefaultWaitTimeoutMs) = delete;

    // Logs what the parser skipped, then waits for the "--wait-for-pid" process, if any.
    void waitForPreviousProcess();

    // Removes the browser log when asked, then each listed data kind's files. A failure is
    // logged and the rest still runs: a kind that cannot be listed or a file that cannot be
    // removed never keeps the others.
    void runCommands();

private:
    void removeBrowserLog();
    void resetDataKind(int kind);
    void remove(const std::string& path, bool isFile);
    void logError(const std::string& function, const std::exception& e);

    const CommandLineArguments& m_arguments;
    AppGlobalObjects m_globals;
    unsigned int m_waitTimeoutMs;
};

} // namespace ferrovan
