#pragma once

#include "shell/AppRuntime.h"

#include <functional>
#include <string>
#include <vector>

namespace fv_test {

// A runtime that only records: each call appends its step ("runtime.initialize", ...) to a list
// the test shares with its other fakes, so the whole run's order can be compared at once.
// Single-threaded, as the run is.
class RecordingAppRuntime : public ferrovan::IAppRuntime {
public:
    explicit RecordingAppRuntime(std::vector<std::string>& steps) : m_steps(steps) {}

    int executeProcess() override
    {
        m_steps.push_back("runtime.executeProcess");
        return executeProcessResult;
    }
    bool initialize(const ferrovan::BrowserSettings& settings) override
    {
        m_steps.push_back("runtime.initialize");
        initializedWith.push_back(settings);
        return initializeResult;
    }
    // Runs `duringLoop` as the loop's whole work: what the program would do while it runs.
    void runMessageLoop() override
    {
        m_steps.push_back("runtime.runMessageLoop");
        if (duringLoop)
            duringLoop();
    }
    void quit() override { m_steps.push_back("runtime.quit"); }
    void shutdown() override { m_steps.push_back("runtime.shutdown"); }

    int executeProcessResult = -1;
    bool initializeResult = true;
    std::function<void()> duringLoop;
    std::vector<ferrovan::BrowserSettings> initializedWith;

private:
    std::vector<std::string>& m_steps;
};

} // namespace fv_test
