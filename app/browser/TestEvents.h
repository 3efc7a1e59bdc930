#pragma once

#include <json/value.h>

#include <string>

namespace ferrovan {

// In test mode the program logs what tests outside the process count: one line
// "TEST-EVENT <name> <json>" in the program's log per window shown or raised, route run,
// hand-over delivered and first web application load. Off: nothing is written.
void setTestEventsEnabled(bool on);
bool testEventsEnabled();
void logTestEvent(const std::string& name, const Json::Value& data = Json::Value(Json::objectValue));

// Milliseconds since the program's code started running (static initialisation), on a
// monotonic clock: the start-time measure of the benchmarks.
long long millisecondsSinceStart();

} // namespace ferrovan
