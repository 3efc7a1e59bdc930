#include "shell/AppController.h"

#include "shell/HandOffTarget.h"
#include "shell/HandOverFiles.h"

namespace ferrovan {

AppController::AppController(IHandOffTarget& target, ILogger* log) : m_target(target), m_log(log) {}

void AppController::activateApp()
{
    m_target.activateMainWindow();
}

void AppController::send(const std::list<std::string>& paths)
{
    m_target.navigateToNewMessage();
    handOverFiles(m_target, paths, false, true, m_log);
}

void AppController::share(const std::list<std::string>& paths)
{
    m_target.navigateToNewShare();
    handOverFiles(m_target, paths, true, true, m_log);
}

} // namespace ferrovan
