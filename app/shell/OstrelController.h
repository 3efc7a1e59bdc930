#pragma once

#include <Poco/SharedPtr.h>

#include <memory>

namespace ferrovan {

class AppController;
class FvOstrelHandler;
class HandOffHub;

// Puts the program's handler into the hub around the message loop: set before the loop, so the
// calls kept since start-up reach the page, and taken away after it.
class OstrelController {
public:
    // `hub` must outlive the controller.
    OstrelController(HandOffHub& hub, Poco::SharedPtr<AppController> controller);
    ~OstrelController();
    OstrelController(const OstrelController&) = delete;
    OstrelController& operator=(const OstrelController&) = delete;

    // Always true: the handler is set in-process, nothing can refuse it.
    bool registerHandler();
    void release();

private:
    HandOffHub& m_hub;
    std::shared_ptr<FvOstrelHandler> m_handler;
};

} // namespace ferrovan
