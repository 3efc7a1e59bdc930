// The installed plug-in, loaded as the file manager loads it, with file infos of our own and the
// program's bus name owned by a fake on the test's private session bus.
#include "support/FakeFileInfo.h"
#include "support/FakeHandoffOwner.h"
#include "support/NautilusModuleLoader.h"
#include "support/TestTypes.h"
#include "support/fixtures/GlibTsanSuppressions.h"
#include "support/fixtures/TestEnvironment.h"

#include <gmock/gmock.h>
#include <json/json.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

using fv_test::FakeHandoffOwner;
using fv_test::HandoffCall;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

namespace {

constexpr int kDeadlineMs = 60000;

// Runs the thread's default main context, where the plug-in's bus answers arrive, until
// `condition` holds or the deadline passes.
template <typename Condition> bool iterateUntil(Condition condition, int timeoutMs = kDeadlineMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return condition();
        if (!g_main_context_iteration(nullptr, FALSE))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void drainMainContext()
{
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

guint32 busQuery(GDBusConnection* bus, const char* method, const char* replyType)
{
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", method,
        g_variant_new("(s)", FV_APP_ID), G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, nullptr);
    guint32 value = 0;
    if (reply)
        g_variant_get(reply, replyType, &value);
    return value;
}

// Ends the stand-in the bus started, by its id, so later tests of this process own the name.
void stopBusStartedOwner()
{
    g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    ASSERT_NE(bus, nullptr);
    const guint32 pid = busQuery(bus, "GetConnectionUnixProcessID", "(u)");
    ASSERT_GT(pid, 0u);
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    EXPECT_TRUE(iterateUntil([&] { return busQuery(bus, "NameHasOwner", "(b)") == 0; }));
}

struct LogLine {
    GLogLevelFlags level;
    std::string message;
};

struct Selected {
    std::string uri;
    bool directory;
};

class OstrelNautilusModule : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto& objects = fv_test::NautilusModuleLoader::load(FV_OSTREL_MODULE).objects();
        ASSERT_EQ(objects.size(), 1u);
        ASSERT_TRUE(NAUTILUS_IS_MENU_PROVIDER(objects[0]));
        m_provider = NAUTILUS_MENU_PROVIDER(objects[0]);
        m_logHandler = g_log_set_handler("Ostrel", GLogLevelFlags(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL), onLog, &m_log);
    }

    void TearDown() override
    {
        g_log_remove_handler("Ostrel", m_logHandler);
        nautilus_menu_item_list_free(m_items);
    }

    // The items the plug-in gives for the selection; they stay alive until the test ends.
    std::vector<NautilusMenuItem*> itemsFor(const std::vector<Selected>& selection)
    {
        GList* files = nullptr;
        for (const auto& item : selection)
            files = g_list_append(files, fv_test::newFakeFileInfo(item.uri, item.directory));
        GList* items = nautilus_menu_provider_get_file_items(m_provider, files);
        nautilus_file_info_list_free(files);
        std::vector<NautilusMenuItem*> result;
        for (GList* node = items; node; node = node->next)
            result.push_back(NAUTILUS_MENU_ITEM(node->data));
        m_items = g_list_concat(m_items, items);
        return result;
    }

    std::vector<std::string> messagesAt(GLogLevelFlags level) const
    {
        std::vector<std::string> messages;
        for (const auto& line : m_log)
            if (line.level & level)
                messages.push_back(line.message);
        return messages;
    }

    static std::string property(NautilusMenuItem* item, const char* name)
    {
        g_autofree char* value = nullptr;
        g_object_get(item, name, &value, nullptr);
        return value ? value : "(none)";
    }

    NautilusMenuProvider* m_provider = nullptr;
    std::vector<LogLine> m_log;

private:
    static void onLog(const char*, GLogLevelFlags level, const char* message, gpointer log)
    {
        static_cast<std::vector<LogLine>*>(log)->push_back({level, message});
    }

    guint m_logHandler = 0;
    GList* m_items = nullptr;
};

// The program's stand-in, on a connection apart from the plug-in's.
class OstrelNautilusModuleWithOwner : public OstrelNautilusModule {
protected:
    void SetUp() override
    {
        OstrelNautilusModule::SetUp();
        m_connection = fv_test::openSeparateSessionConnection();
        m_owner = std::make_unique<FakeHandoffOwner>(m_connection);
    }

    void TearDown() override
    {
        m_owner.reset();
        g_dbus_connection_close_sync(m_connection, nullptr, nullptr);
        g_object_unref(m_connection);
        OstrelNautilusModule::TearDown();
    }

    // Activates the item and waits until the owner has recorded the call it made.
    HandoffCall callOf(NautilusMenuItem* item)
    {
        const std::size_t before = m_owner->calls().size();
        nautilus_menu_item_activate(item);
        if (!iterateUntil([&] { return m_owner->calls().size() > before; }))
            return {"(no call)", {}};
        return m_owner->calls().back();
    }

    GDBusConnection* m_connection = nullptr;
    std::unique_ptr<FakeHandoffOwner> m_owner;
};

struct SelectionCase {
    const char* what;
    std::vector<Selected> selection;
    std::vector<std::string> paths; // empty: no items
    const char* debugLine;
};

// Names the row in a failure, not its bytes.
void PrintTo(const SelectionCase& row, std::ostream* out)
{
    *out << row.what;
}

class OstrelNautilusModuleSelection : public OstrelNautilusModuleWithOwner,
                                      public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(OstrelNautilusModuleSelection, SendsAndSharesTheDecodedPathsOrOffersNothing)
{
    const SelectionCase& row = GetParam();
    const auto items = itemsFor(row.selection);
    if (row.paths.empty()) {
        EXPECT_TRUE(items.empty());
        if (*row.debugLine) {
            EXPECT_THAT(messagesAt(G_LOG_LEVEL_DEBUG), ElementsAre(HasSubstr(row.debugLine)));
        }
        return;
    }
    ASSERT_EQ(items.size(), 2u);
    const HandoffCall send = callOf(items[0]);
    EXPECT_EQ(send.method, "Send");
    EXPECT_EQ(send.paths, row.paths);
    const HandoffCall share = callOf(items[1]);
    EXPECT_EQ(share.method, "Share");
    EXPECT_EQ(share.paths, row.paths);
    drainMainContext();
    EXPECT_TRUE(messagesAt(G_LOG_LEVEL_WARNING).empty());
}

const std::string kLongName = std::string(200, 'l') + "/" + std::string(200, 'm') + "/" + std::string(200, 'n') + "/" +
                              std::string(200, 'o') + "/" + std::string(200, 'p') + "/end";

INSTANTIATE_TEST_SUITE_P(
    Table, OstrelNautilusModuleSelection,
    ::testing::Values(
        SelectionCase{"files in order",
                      {{"file:///d/a%20b.txt", false}, {"file:///d/%C3%A9t%C3%A9.pdf", false}, {"file:///d/c", false}},
                      {"/d/a b.txt", "/d/\xC3\xA9t\xC3\xA9.pdf", "/d/c"},
                      ""},
        SelectionCase{"folder and file", {{"file:///d/dir", true}, {"file:///d/x", false}}, {"/d/dir", "/d/x"}, ""},
        SelectionCase{"a folder alone", {{"file:///d/dir", true}}, {"/d/dir"}, ""},
        SelectionCase{"a long path", {{"file:///d/" + kLongName, false}}, {"/d/" + kLongName}, ""},
        SelectionCase{"a remote item", {{"file:///d/x", false}, {"sftp://host/y", false}}, {}, "no local path"},
        SelectionCase{"a name that is not UTF-8", {{"file:///d/%FF%FE.txt", false}}, {}, "not UTF-8"},
        SelectionCase{"nothing selected", {}, {}, ""}),
    fv_test::rowName<SelectionCase>);

TEST_F(OstrelNautilusModule, ItemsCarryTheirNamesLabelsAndTip)
{
    const auto items = itemsFor({{"file:///d/x", false}});
    ASSERT_EQ(items.size(), 2u);
    EXPECT_THAT(
        (std::vector<std::string>{property(items[0], "name"), property(items[0], "label"), property(items[0], "tip")}),
        ElementsAre("Ostrel::Send", "Send with Ferrovan v4", "Ferrovan v4"));
    EXPECT_THAT(
        (std::vector<std::string>{property(items[1], "name"), property(items[1], "label"), property(items[1], "tip")}),
        ElementsAre("Ostrel::Share", "Share with Ferrovan v4", "(none)"));
}

TEST_F(OstrelNautilusModule, EachItemKeepsItsPathsAfterTheSelectionIsGone)
{
    // The file manager frees its file infos long before the user picks an item.
    const auto items = itemsFor({{"file:///d/x", false}});
    ASSERT_EQ(items.size(), 2u);
    g_autoptr(GDBusConnection) connection = fv_test::openSeparateSessionConnection();
    FakeHandoffOwner owner(connection);
    nautilus_menu_item_activate(items[1]);
    nautilus_menu_item_activate(items[0]);
    ASSERT_TRUE(iterateUntil([&] { return owner.calls().size() == 2; }));
    // Two activations race for the first bus connection: their order is not the point.
    EXPECT_THAT((std::vector<std::string>{owner.calls()[0].method, owner.calls()[1].method}),
                UnorderedElementsAre("Share", "Send"));
    for (const auto& call : owner.calls())
        EXPECT_THAT(call.paths, ElementsAre("/d/x"));
}

TEST_F(OstrelNautilusModule, WithoutOwnerOrServiceFileWarnsOnceWithTheBusErrorAndNeverBlocks)
{
    const auto items = itemsFor({{"file:///d/x", false}});
    ASSERT_EQ(items.size(), 2u);
    nautilus_menu_item_activate(items[0]);
    // The answer comes through the main loop only: activation itself waits for nothing.
    EXPECT_TRUE(messagesAt(G_LOG_LEVEL_WARNING).empty());
    ASSERT_TRUE(iterateUntil([&] { return !messagesAt(G_LOG_LEVEL_WARNING).empty(); }));
    drainMainContext();
    EXPECT_THAT(messagesAt(G_LOG_LEVEL_WARNING), ElementsAre(HasSubstr("ServiceUnknown")));
}

TEST_F(OstrelNautilusModule, ABusStartedProgramReceivesThePaths)
{
    // The session's bus looks for service files under its data folder, set before it started.
    const char* dataHome = g_getenv("XDG_DATA_HOME");
    ASSERT_NE(dataHome, nullptr);
    const std::string services = std::string(dataHome) + "/dbus-1/services";
    ASSERT_EQ(g_mkdir_with_parents(services.c_str(), 0700), 0);
    fv_test::TempDir scratch;
    const std::string record = scratch.path() + "/calls.json";
    fv_test::writeFile(services + "/" FV_APP_ID ".service",
                       "[D-BUS Service]\nName=" FV_APP_ID "\nExec=" FV_FAKE_HANDOFF_SERVER " " + record + "\n");

    const auto items = itemsFor({{"file:///d/a%20b.txt", false}, {"file:///d/c", false}});
    ASSERT_EQ(items.size(), 2u);
    nautilus_menu_item_activate(items[0]);
    Json::Value calls;
    ASSERT_TRUE(iterateUntil([&] {
        std::ifstream in(record);
        return in && Json::Reader().parse(in, calls) && calls.size() == 1;
    }));
    EXPECT_EQ(calls[0]["method"].asString(), "Send");
    ASSERT_EQ(calls[0]["paths"].size(), 2u);
    EXPECT_EQ(calls[0]["paths"][0].asString(), "/d/a b.txt");
    EXPECT_EQ(calls[0]["paths"][1].asString(), "/d/c");
    stopBusStartedOwner();
}

} // namespace
