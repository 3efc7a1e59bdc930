#include "shell/UiTaskQueue.h"

#include "shell/ExceptionText.h"
#include "shell/FerrovanLogger.h"
#include "shell/Logger.h"

#include <exception>

namespace ferrovan {

void runLoggingFailure(const std::function<void()>& task, const std::string& where)
{
    std::string failure;
    try {
        task();
        return;
    } catch (const std::exception& e) {
        failure = exceptionText(e);
    } catch (...) {
        failure = "unknown exception";
    }
    logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_ERROR, where + ": " + failure);
}

} // namespace ferrovan
