#include "shell/HandOffHub.h"

#include "shell/FvOstrelHandler.h"

#include <utility>

namespace ferrovan {

HandOffHub::HandOffHub() = default;
HandOffHub::~HandOffHub() = default;

void HandOffHub::send(const std::list<std::string>& paths)
{
    m_waiting.push_back(Call{Route::Send, paths});
    deliverWaitingCalls();
}

void HandOffHub::share(const std::list<std::string>& paths)
{
    m_waiting.push_back(Call{Route::Share, paths});
    deliverWaitingCalls();
}

void HandOffHub::activateApp()
{
    m_activationWaits = true;
    deliverWaitingActivation();
}

void HandOffHub::setHandler(std::shared_ptr<FvOstrelHandler> handler)
{
    m_handler = std::move(handler);
    deliverWaitingCalls();
    deliverWaitingActivation();
}

void HandOffHub::mainWindowShown()
{
    m_windowShown = true;
    deliverWaitingActivation();
}

void HandOffHub::deliverWaitingCalls()
{
    // A handler may run a nested loop (a dialog), in which the next call arrives: it joins the
    // queue behind the one being delivered, so the order holds.
    if (m_delivering)
        return;
    struct Delivering {
        bool& flag;
        ~Delivering() { flag = false; }
    } delivering{m_delivering = true};
    while (m_handler && !m_waiting.empty()) {
        const Call call = std::move(m_waiting.front());
        m_waiting.pop_front();
        // Kept alive for the call: a nested loop may take the handler away meanwhile.
        const std::shared_ptr<FvOstrelHandler> handler = m_handler;
        if (call.route == Route::Send)
            handler->Send(call.paths);
        else
            handler->Share(call.paths);
    }
}

void HandOffHub::deliverWaitingActivation()
{
    if (!m_activationWaits || !m_handler || !m_windowShown)
        return;
    m_activationWaits = false;
    const std::shared_ptr<FvOstrelHandler> handler = m_handler;
    handler->ActivateApp();
}

} // namespace ferrovan
