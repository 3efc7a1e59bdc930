#include "shell/FvOstrelHandler.h"

#include "shell/AppController.h"

#include <utility>

namespace ferrovan {

void FvOstrelHandler::Send(const std::list<std::string>& paths)
{
    if (m_controller)
        m_controller->send(paths);
}

void FvOstrelHandler::Share(const std::list<std::string>& paths)
{
    if (m_controller)
        m_controller->share(paths);
}

void FvOstrelHandler::ActivateApp()
{
    if (m_controller)
        m_controller->activateApp();
}

void FvOstrelHandler::setAppController(Poco::SharedPtr<AppController> controller)
{
    m_controller = std::move(controller);
}

} // namespace ferrovan
