#include "shell/DataKinds.h"

#include "app/shell/DataFolder.h"

#include <Poco/File.h>
#include <Poco/Path.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ferrovan::DataKindFiles;
using ferrovan::DataKinds;
using fv_test::DataFolder;

const std::size_t kKiB = 1024;
const std::size_t kMiB = 1024 * kKiB;

DataKindFiles list(DataFolder& data, int kind)
{
    return DataKinds(data.globals, &data.log).listFiles(kind);
}

// A report takes each log list up to the file that reaches 1 MiB; a reset takes them all.
TEST(DataKinds, ReportCutsEachLogListAtOneMebibyte)
{
    DataFolder data;
    for (const char* name :
         {"fv_transfers.log", "fv_transfers.log.1", "fv_transfers.log.2", "fv_app.log", "fv_app.log.0", "fv_app.log.1"})
        data.writeLog(name, 600 * kKiB);

    const DataKindFiles report = list(data, ferrovan::kLogsForReport);
    const DataKindFiles expected = {{data.path("fv_transfers.log"), true},
                                    {data.path("fv_transfers.log.1"), true},
                                    {data.path("fv_app.log"), true},
                                    {data.path("fv_app.log.0"), true}};
    EXPECT_EQ(report, expected);
    EXPECT_EQ(list(data, ferrovan::kLogs).size(), 6u);
}

std::string lastWholeLines(const std::string& text, std::size_t limit)
{
    const std::string tail = text.substr(text.size() - limit);
    if (text[text.size() - limit - 1] == '\n')
        return tail;
    return tail.substr(tail.find('\n') + 1);
}

struct BrowserLogCase {
    const char* name;
    std::size_t size;
    bool copied;
};

// A browser log up to 2 MiB is reported itself; a larger one as a temporary copy of its last
// whole lines within 2 MiB, while a reset always takes the log itself.
TEST(DataKinds, ReportTakesTheTailOfALargeBrowserLog)
{
    const BrowserLogCase cases[] = {
        {"small", 10 * kKiB, false},
        {"exactly 2 MiB", 2 * kMiB, false},
        {"2 MiB and 10 bytes", 2 * kMiB + 10, true},
        {"3 MiB", 3 * kMiB, true},
    };
    for (const auto& c : cases) {
        DataFolder data;
        data.writeLog("browser.log", c.size);
        const std::string original = fv_test::readFile(data.path("browser.log"));

        const DataKindFiles reset = list(data, ferrovan::kLogs);
        EXPECT_EQ(reset, (DataKindFiles{{data.path("browser.log"), true}})) << c.name;

        const DataKindFiles report = list(data, ferrovan::kLogsForReport);
        ASSERT_EQ(report.size(), 1u) << c.name;
        const std::string listed = report.begin()->first;
        EXPECT_TRUE(report.begin()->second) << c.name;
        if (!c.copied) {
            EXPECT_EQ(listed, data.path("browser.log")) << c.name;
            continue;
        }
        EXPECT_NE(listed, data.path("browser.log")) << c.name;
        EXPECT_EQ(Poco::Path(listed).getFileName(), "browser.log") << c.name;
        EXPECT_EQ(fv_test::readFile(listed), lastWholeLines(original, 2 * kMiB)) << c.name;
        EXPECT_EQ(fv_test::readFile(data.path("browser.log")), original) << c.name;
    }
}

TEST(DataKinds, TailStartsAtTheLogsOwnLineBoundary)
{
    DataFolder data;
    // The byte before the last 2 MiB ends a line, so the whole tail is kept.
    const std::string head = std::string(99, 'h') + "\n";
    const std::string tail = DataFolder::logText(2 * kMiB);
    fv_test::writeFile(data.path("browser.log"), head + tail);
    const DataKindFiles report = list(data, ferrovan::kLogsForReport);
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(fv_test::readFile(report.begin()->first), tail);
}

// Only what exists is listed: an empty data folder lists nothing for any kind.
TEST(DataKinds, ListsOnlyWhatExists)
{
    DataFolder data;
    for (int kind = 0; kind <= 4; ++kind)
        EXPECT_TRUE(list(data, kind).empty()) << kind;
    EXPECT_THROW(list(data, 5), std::invalid_argument);
}

TEST(DataKinds, CacheIsOneFolderAndSettingsOneFile)
{
    DataFolder data;
    Poco::File(data.path("Cache/web")).createDirectories();
    fv_test::writeFile(data.path("fv_settings.json"), "{}");
    EXPECT_EQ(list(data, ferrovan::kWebDataAndCache), (DataKindFiles{{data.path("Cache"), false}}));
    EXPECT_EQ(list(data, ferrovan::kSettings), (DataKindFiles{{data.path("fv_settings.json"), true}}));
}

// Kinds that name the library's files need its configuration; every kind needs the environment.
TEST(DataKinds, MissingGlobalObjectsThrow)
{
    DataFolder data;
    data.globals.transfersConfig = nullptr;
    for (int kind : {0, 2, 3})
        EXPECT_THROW(list(data, kind), ferrovan::IncompleteGlobalObjects) << kind;
    for (int kind : {1, 4})
        EXPECT_NO_THROW(list(data, kind)) << kind;
    data.globals.environment = nullptr;
    EXPECT_THROW(DataKinds(data.globals, &data.log), ferrovan::IncompleteGlobalObjects);
}

} // namespace
