#pragma once

#include <deque>
#include <list>
#include <memory>
#include <string>

namespace ferrovan {

class FvOstrelHandler;

// Where every hand-off call meets the one in-process handler. The service owns the bus name long
// before the program can act, so until the handler is set the hub keeps whole calls, in order,
// each with its own route and paths, and replays them once it is; an activation waits as a flag
// until there is a handler and the main window has shown. Only the program sets the handler:
// no call from outside can replace it. On the UI thread.
class HandOffHub {
public:
    HandOffHub();
    ~HandOffHub();
    HandOffHub(const HandOffHub&) = delete;
    HandOffHub& operator=(const HandOffHub&) = delete;

    void send(const std::list<std::string>& paths);
    void share(const std::list<std::string>& paths);
    void activateApp();

    // Sets the handler and replays what waited for it. Null takes it away again, and later calls wait.
    void setHandler(std::shared_ptr<FvOstrelHandler> handler);
    // Once the main window is on screen, a waiting activation may act.
    void mainWindowShown();

private:
    enum class Route { Send, Share };
    struct Call {
        Route route;
        std::list<std::string> paths;
    };

    void deliverWaitingCalls();
    void deliverWaitingActivation();

    std::shared_ptr<FvOstrelHandler> m_handler;
    std::deque<Call> m_waiting;
    bool m_delivering = false;
    bool m_activationWaits = false;
    bool m_windowShown = false;
};

} // namespace ferrovan
