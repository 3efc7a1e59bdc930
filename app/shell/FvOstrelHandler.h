#pragma once

#include <Poco/SharedPtr.h>

#include <list>
#include <string>

namespace ferrovan {

class AppController;

// The in-process handler of the hand-off: what the hub passes calls to once the program can act
// on them. Without a controller the calls do nothing.
class FvOstrelHandler {
public:
    void Send(const std::list<std::string>& paths);
    void Share(const std::list<std::string>& paths);
    void ActivateApp();

    void setAppController(Poco::SharedPtr<AppController> controller);

private:
    Poco::SharedPtr<AppController> m_controller;
};

} // namespace ferrovan
