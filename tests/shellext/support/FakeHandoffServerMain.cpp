// What the bus starts in the program's place when a test's service file names it: it owns the
// program's name and writes every call it answers, as JSON, to the file named by its argument.
#include "FakeHandoffOwner.h"
#include "support/fixtures/GlibTsanSuppressions.h"

#include <json/json.h>

#include <cstdio>
#include <fstream>

namespace {

// Written whole and renamed, so a reader never sees half a record.
void writeCalls(const std::string& path, const std::vector<fv_test::HandoffCall>& calls)
{
    Json::Value records(Json::arrayValue);
    for (const auto& call : calls) {
        Json::Value record;
        record["method"] = call.method;
        record["paths"] = Json::Value(Json::arrayValue);
        for (const auto& item : call.paths)
            record["paths"].append(item);
        records.append(record);
    }
    const std::string temporary = path + ".part";
    std::ofstream(temporary, std::ios::trunc) << Json::writeString(Json::StreamWriterBuilder(), records);
    std::rename(temporary.c_str(), path.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const std::string recordPath = argv[1];
    // The shared connection ends the process when the bus goes away with the test's session.
    g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus)
        return 1;
    std::vector<fv_test::HandoffCall> calls;
    fv_test::FakeHandoffOwner owner(bus, [&](const fv_test::HandoffCall& call) {
        calls.push_back(call);
        writeCalls(recordPath, calls);
    });
    g_autoptr(GMainLoop) loop = g_main_loop_new(nullptr, FALSE);
    // Never outlives a test by much, whatever happens to the bus.
    g_timeout_add_seconds(
        120,
        [](gpointer data) {
            g_main_loop_quit(static_cast<GMainLoop*>(data));
            return G_SOURCE_REMOVE;
        },
        loop);
    g_main_loop_run(loop);
    return 0;
}
