#pragma once

#include <list>
#include <string>

namespace ferrovan {

class IHandOffTarget;
class ILogger;

// Turns the hand-off's calls into what the user sees: the window brought forward, or the page's
// new-message or new-share route with the paths handed to it. Navigation comes first, so a list
// without one usable path still opens the route. On the UI thread.
class AppController {
public:
    // `target` and `log` (may be null) must outlive the controller.
    AppController(IHandOffTarget& target, ILogger* log);

    void activateApp();
    void send(const std::list<std::string>& paths);
    void share(const std::list<std::string>& paths);

private:
    IHandOffTarget& m_target;
    ILogger* m_log;
};

} // namespace ferrovan
