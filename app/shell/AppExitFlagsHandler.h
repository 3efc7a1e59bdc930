#pragma once

#include "shell/AppExitFlags.h"
#include "shell/AppGlobalObjects.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace ferrovan {

// Acts on the exit flags once the program has shut down, while its log still exists.
class AppExitFlagsHandler {
public:
    class ModifiedFlagsException : public std::runtime_error {
    public:
        ModifiedFlagsException() : std::runtime_error("AppExitFlags got modified while class has been processing flags")
        {
        }
    };

    // `log` (may be null) receives the failures.
    explicit AppExitFlagsHandler(ILogger* log);

    // Empties the queue. However many restarts were queued, the program starts once, with the
    // arguments of all of them in queue order and one "--wait-for-pid" of this process, so two
    // copies never race over the same data. A flag that fails is logged and the rest still
    // count. Returns the started process's id, 0 when none was started; throws
    // IncompleteGlobalObjects when a restart is due without the environment.
    int handleFlags(AppExitFlags& flags, const AppGlobalObjects& globals);

    // The restart arguments of `queued` (each one flag's list) as one list: each list's
    // "--wait-for-pid" and its value dropped, an option without a value kept only the first
    // time, then "--wait-for-pid" with `pid`.
    static std::vector<std::string> mergeRestartArguments(const std::vector<std::vector<std::string>>& queued, int pid);

private:
    int restart(const std::string& executablePath, const std::vector<std::string>& arguments);

    ILogger* m_log;
};

} // namespace ferrovan
