#pragma once

#include "shell/HandOffTarget.h"

#include <functional>
#include <list>
#include <string>
#include <vector>

namespace fv_test {

// The page and window of the hand-off, as events in the order they came:
// "route /message/new", "route /share/new", "dropped <paths> <complete> <defer>",
// "stored <paths> <complete> <defer>" (paths joined by '|') and "activate".
class RecordingHandOffTarget : public ferrovan::IHandOffTarget {
public:
    std::vector<std::string> events;
    bool ready = false;
    // Run after an event is recorded: stands in for a nested loop in which more calls arrive.
    std::function<void(const std::string& event)> onEvent;

    bool isAppInitialized() override { return ready; }
    void navigateToNewMessage() override { record("route /message/new"); }
    void navigateToNewShare() override { record("route /share/new"); }
    void filesDropped(const std::list<std::string>& paths, bool complete, bool defer) override
    {
        record("dropped " + describe(paths, complete, defer));
    }
    void storePendingFiles(const std::list<std::string>& paths, bool complete, bool defer) override
    {
        record("stored " + describe(paths, complete, defer));
    }
    void activateMainWindow() override { record("activate"); }

    static std::string describe(const std::list<std::string>& paths, bool complete, bool defer)
    {
        std::string text;
        for (const std::string& path : paths)
            text += (text.empty() ? "" : "|") + path;
        return text + (complete ? " complete" : " partial") + (defer ? " deferred" : " at-once");
    }

private:
    void record(const std::string& event)
    {
        events.push_back(event);
        if (onEvent)
            onEvent(event);
    }
};

} // namespace fv_test
