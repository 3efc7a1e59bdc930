#include "app/shell/FerrovanProgram.h"
#include "support/fixtures/Watchdog.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>

using namespace fv_test;
using namespace std::chrono_literals;

namespace {

// What a shell command printed; empty when it failed.
std::string commandOutput(const std::string& command)
{
    std::string output;
    const std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe)
        return output;
    std::array<char, 256> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe.get()) != nullptr)
        output += buffer.data();
    return output;
}

class FerrovanWindowProgramTest : public FerrovanProgram {
protected:
    bool waitForReady(std::size_t count)
    {
        return waitUntil(
            [&] {
                std::size_t ready = 0;
                for (const Json::Value& report : m_service.pageReports())
                    if (report["call"].asString() == "reply" && report["args"][1].asString() == "onAppReady")
                        ++ready;
                return ready >= count;
            },
            60000);
    }

    // The main window's top-left corner as the display server has it, "X,Y".
    static std::string windowPosition()
    {
        std::string id = commandOutput("xdotool search --name '^Ferrovan$' | head -n1");
        id.erase(id.find_last_not_of("\n") + 1);
        if (id.empty())
            return std::string();
        const std::string geometry = commandOutput("xdotool getwindowgeometry " + id);
        const std::size_t at = geometry.find("Position: ");
        if (at == std::string::npos)
            return std::string();
        return geometry.substr(at + 10, geometry.find(' ', at + 10) - at - 10);
    }
};

// The program shows the web application in its window; the page's exit ends the program cleanly.
TEST_F(FerrovanWindowProgramTest, TheWebAppRunsInTheWindowAndItsExitEndsTheProgram)
{
    Watchdog watchdog("the web application in the program's window", 110s);
    auto program = start({"--rest-path", "/app?scenario=exit"});
    ASSERT_TRUE(waitForReady(1)) << log();
    EXPECT_EQ(0, program->waitExit(60s)) << log();
    const std::string text = log();
    for (const char* line : {"TEST-EVENT window-shown", "TEST-EVENT web-app-loaded", "onStartup called! App loaded",
                             "Shutdown was initiated by the app!", kExitingBanner})
        EXPECT_NE(std::string::npos, text.find(line)) << line;
    EXPECT_EQ(1, countInLog("FvCefHandler::OnBeforeClose: Shutting down!"));
}

// Where the user left the window is where it opens next time.
TEST_F(FerrovanWindowProgramTest, AMovedWindowOpensWhereItWasLeft)
{
    Watchdog watchdog("the window's place", 110s);
    // Small enough to stay on the virtual display wherever it is moved below.
    writeFile(file("fv_settings.json"),
              R"({"window": {"top": 10, "left": 10, "width": 800, "height": 600, "maximized": false}})");
    auto first = start({});
    ASSERT_TRUE(waitForLog("TEST-EVENT window-shown")) << log();
    ASSERT_FALSE(windowPosition().empty()) << "no window to move";
    std::string id = commandOutput("xdotool search --name '^Ferrovan$' | head -n1");
    id.erase(id.find_last_not_of("\n") + 1);
    commandOutput("xdotool windowmove " + id + " 137 91");
    ASSERT_TRUE(waitUntil([] { return windowPosition() == "137,91"; }, 10000)) << windowPosition();
    ASSERT_TRUE(waitUntil([&] { return readFile(file("fv_settings.json")).find("137") != std::string::npos; }, 10000))
        << readFile(file("fv_settings.json"));
    first->signal(SIGTERM);
    ASSERT_EQ(0, first->waitExit(60s));

    auto second = start({});
    ASSERT_TRUE(waitUntil([&] { return countInLog("TEST-EVENT window-shown") == 2; }, 60000)) << log();
    EXPECT_TRUE(waitUntil([] { return windowPosition() == "137,91"; }, 10000))
        << windowPosition() << readFile(file("fv_settings.json"));
    second->signal(SIGTERM);
    EXPECT_EQ(0, second->waitExit(60s));
}

} // namespace
