#pragma once

#include "support/fixtures/ChildProcess.h"
#include "support/fixtures/EventRecorder.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/service/TestService.h"

#include <Poco/File.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace fv_test {

inline const char* const kStartingBanner = "******************* Starting Ferrovan *******************";
inline const char* const kExitingBanner = "******************* Exiting Ferrovan *******************";

// Real Ferrovan processes on a data folder of their own, against the test service.
class FerrovanProgram : public ::testing::Test {
protected:
    FerrovanProgram() { Poco::File(folder()).createDirectories(); }

    std::string dataHome() const { return m_home.path(); }
    std::string folder() const { return m_home.path() + "/Ferrovan"; }
    std::string file(const std::string& name) const { return folder() + "/" + name; }
    std::string log() const
    {
        return Poco::File(file("fv_app.log")).exists() ? readFile(file("fv_app.log")) : std::string();
    }
    // How many times `text` is in the log.
    int countInLog(const std::string& text) const
    {
        const std::string whole = log();
        int count = 0;
        for (std::size_t at = whole.find(text); at != std::string::npos; at = whole.find(text, at + text.size()))
            ++count;
        return count;
    }

    // Ferrovan in test mode with `arguments` and the service's addresses; its output goes to
    // `outputPath` when given.
    std::unique_ptr<ChildProcess> start(std::vector<std::string> arguments, ChildProcess::Environment environment = {},
                                        const std::string& outputPath = std::string(),
                                        const std::string& program = FV_PROGRAM)
    {
        const std::vector<std::string> addresses{"--app-url", m_service.baseUrl(), "--rest-endpoint-url",
                                                 m_service.baseUrl()};
        arguments.insert(arguments.end(), addresses.begin(), addresses.end());
        environment.emplace("XDG_DATA_HOME", m_home.path());
        environment.emplace("FV_TEST_MODE", "1");
        return std::make_unique<ChildProcess>(program, arguments, environment, outputPath);
    }
    bool waitForLog(const std::string& text, int timeoutMs = 60000) const
    {
        return waitUntil([&] { return log().find(text) != std::string::npos; }, timeoutMs);
    }

    TempDir m_home;
    TestService m_service;
};

} // namespace fv_test
