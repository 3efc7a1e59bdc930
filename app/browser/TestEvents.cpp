#include "browser/TestEvents.h"

#include "shell/FerrovanLogger.h"

#include <json/writer.h>

#include <atomic>
#include <chrono>

namespace ferrovan {

namespace {

std::atomic<bool> enabled{false};
const std::chrono::steady_clock::time_point programStart = std::chrono::steady_clock::now();

} // namespace

void setTestEventsEnabled(bool on)
{
    enabled = on;
}

bool testEventsEnabled()
{
    return enabled;
}

void logTestEvent(const std::string& name, const Json::Value& data)
{
    if (!enabled)
        return;
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_INFORMATION,
            "TEST-EVENT " + name + " " + Json::writeString(builder, data));
}

} // namespace ferrovan

namespace ferrovan {

long long millisecondsSinceStart()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - programStart)
        .count();
}

} // namespace ferrovan
