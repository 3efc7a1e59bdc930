#include "shell/OstrelController.h"

#include "shell/AppController.h"
#include "shell/FvOstrelHandler.h"
#include "shell/HandOffHub.h"

#include <utility>

namespace ferrovan {

OstrelController::OstrelController(HandOffHub& hub, Poco::SharedPtr<AppController> controller)
    : m_hub(hub), m_handler(std::make_shared<FvOstrelHandler>())
{
    m_handler->setAppController(std::move(controller));
}

OstrelController::~OstrelController()
{
    release();
}

bool OstrelController::registerHandler()
{
    m_hub.setHandler(m_handler);
    return true;
}

void OstrelController::release()
{
    if (!m_handler)
        return;
    m_hub.setHandler(nullptr);
    m_handler.reset();
}

} // namespace ferrovan
