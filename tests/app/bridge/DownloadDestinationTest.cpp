#include "JsonText.h"
#include "FakeDownloadDesktop.h"
#include "bridge/DownloadDestination.h"
#include "shell/FerrovanLogger.h"

#include "support/fixtures/TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

using ferrovan::DownloadDestination;
using ferrovan::DownloadOptions;

// "{root}" in a case stands for the test's folder. Inside it: "Downloads" (the desktop's download
// folder, unless the case removes it), "target" (writable), "locked" (not writable) and
// "file.txt".
struct DestinationCase {
    const char* name = "";
    std::string request;
    bool optionAutoDownload = false;
    std::string optionAutoDownloadPath;
    bool downloadsMissing = false;
    std::vector<std::optional<std::string>> choices; // chooser answers, in order
    std::optional<std::string> folder;               // none: no folder settled
    bool autoDownload = false;
    std::size_t chooserRuns = 0;
    std::size_t alerts = 0;
};

void PrintTo(const DestinationCase& c, std::ostream* out)
{
    *out << c.name;
}

std::string expand(std::string text, const std::string& root)
{
    for (std::string::size_type at; (at = text.find("{root}")) != std::string::npos;)
        text.replace(at, 6, root);
    return text;
}

DestinationCase start(const char* name, const std::string& request)
{
    DestinationCase c;
    c.name = name;
    c.request = request;
    return c;
}

const std::string kChosen = "file://{root}/chosen";
const std::string kLocked = "file://{root}/locked";

std::vector<DestinationCase> destinationCases()
{
    std::vector<DestinationCase> cases;
    const auto add = [&](DestinationCase c) { cases.push_back(std::move(c)); };
    DestinationCase c;

    c = start("RequestedAutomatic", R"({"autoDownload":true,"summary":"S"})");
    c.folder = "{root}/Downloads/Ferrovan/S", c.autoDownload = true;
    add(c);
    c = start("OptionWinsOverARequestsFalse", R"({"autoDownload":false,"downloadPath":"{root}/target"})");
    c.optionAutoDownload = true, c.folder = "{root}/Downloads/Ferrovan/", c.autoDownload = true;
    add(c);
    c = start("OptionsOwnFolderIsCreated", R"({"summary":"S"})");
    c.optionAutoDownload = true, c.optionAutoDownloadPath = "{root}/mine/deep";
    c.folder = "{root}/mine/deep/S", c.autoDownload = true;
    add(c);
    c = start("NoDesktopFolderFallsBackToThePagesPath", R"({"autoDownload":true,"downloadPath":"{root}/target"})");
    c.downloadsMissing = true, c.folder = "{root}/target/";
    add(c);
    c = start("NoDesktopFolderFallsBackToTheChooser", R"({"autoDownload":true})");
    c.downloadsMissing = true, c.choices = {kChosen}, c.folder = "{root}/chosen/", c.chooserRuns = 1;
    add(c);
    c = start("PagesPathWithSummary", R"({"downloadPath":"{root}/target","summary":"Q3 / report: final"})");
    c.folder = "{root}/target/Q3   report  final";
    add(c);
    c = start("PagesPathMissingLevelsAreCreated", R"({"downloadPath":"{root}/new/a/b/","summary":"S"})");
    c.folder = "{root}/new/a/b/S";
    add(c);
    c = start("EmptyPathAsksAndACancelSettlesNothing", R"({"downloadPath":""})");
    c.choices = {std::nullopt}, c.chooserRuns = 1;
    add(c);
    // Each refused path leaves the choice to the user.
    const std::vector<std::pair<const char*, std::string>> refused{
        {"RelativePath", R"({"downloadPath":"rel/x"})"},
        {"ClimbingPath", R"({"downloadPath":"{root}/target/../locked"})"},
        {"DotSegment", R"({"downloadPath":"{root}/./target"})"},
        {"PathIsAFile", R"({"downloadPath":"{root}/file.txt"})"},
        {"PathBelowAFile", R"({"downloadPath":"{root}/file.txt/sub"})"},
        {"UnwritablePath", R"({"downloadPath":"{root}/locked/sub"})"},
        {"PathNotText", R"({"downloadPath":5})"},
    };
    for (const auto& [name, text] : refused) {
        c = start(name, text);
        c.choices = {kChosen}, c.folder = "{root}/chosen/", c.chooserRuns = 1;
        add(c);
    }
    c = start("SystemFolder", R"({"downloadPath":"/srv/../etc"})");
    c.choices = {std::nullopt}, c.chooserRuns = 1;
    add(c);
    c = start("DotsSummaryStaysOneLevel", R"({"downloadPath":"{root}/target","summary":".."})");
    c.folder = "{root}/target/__";
    add(c);
    c = start("BackslashSummaryIsOneLevel", R"({"downloadPath":"{root}/target","summary":"a\\b"})");
    c.folder = "{root}/target/a\\b";
    add(c);
    c = start("ChooserAsksAgainAfterAnUnwritableFolder", "{}");
    c.choices = {kLocked, kChosen}, c.folder = "{root}/chosen/", c.chooserRuns = 2, c.alerts = 1;
    add(c);
    c = start("CancelAfterARefusalAsksNoMore", "{}");
    c.choices = {kLocked, std::nullopt}, c.chooserRuns = 2, c.alerts = 1;
    add(c);
    return cases;
}

class DestinationFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ferrovan::CFerrovanLogger::setLogFilePath(m_log.file("fv_app.log"));
        for (const char* folder : {"Downloads", "target", "locked", "chosen"})
            std::filesystem::create_directory(m_root.file(folder));
        fv_test::writeFile(m_root.file("file.txt"), "x");
        m_desktop.downloadsDirectory = m_root.file("Downloads");
        m_desktop.readOnly.insert(m_root.file("locked"));
    }
    void TearDown() override { ferrovan::CFerrovanLogger::destroyInstance(); }

    std::string root() const { return m_root.path(); }

    fv_test::TempDir m_log;
    fv_test::TempDir m_root;
    fv_test::FakeDownloadDesktop m_desktop;
};

class Destination : public DestinationFixture, public ::testing::WithParamInterface<DestinationCase> {};

TEST_P(Destination, SettlesTheGroupsFolder)
{
    const DestinationCase& c = GetParam();
    if (c.downloadsMissing)
        std::filesystem::remove(m_root.file("Downloads"));
    for (const auto& choice : c.choices)
        m_desktop.choices.push_back(choice ? std::optional<std::string>(expand(*choice, root())) : std::nullopt);
    DownloadOptions options;
    options.autoDownload = c.optionAutoDownload;
    options.autoDownloadPath = expand(c.optionAutoDownloadPath, root());
    DownloadDestination destination(m_desktop.desktop(), nullptr);

    std::string folder;
    bool autoDownload = !c.autoDownload;
    const bool settled =
        destination.groupDownloadPath(fv_test::parseJson(expand(c.request, root())), options, folder, autoDownload);

    ASSERT_EQ(settled, c.folder.has_value());
    if (settled) {
        EXPECT_EQ(folder, expand(*c.folder, root()));
        EXPECT_TRUE(std::filesystem::is_directory(folder));
        EXPECT_EQ(autoDownload, c.autoDownload);
    }
    EXPECT_EQ(m_desktop.chooserTitles.size(), c.chooserRuns);
    for (const std::string& title : m_desktop.chooserTitles)
        EXPECT_EQ(title, "Choose a folder");
    ASSERT_EQ(m_desktop.alerts.size(), c.alerts);
    if (c.alerts) {
        EXPECT_EQ(m_desktop.alerts[0], "Ferrovan does not have permissions to write to folder " + root() +
                                           "/locked. Please select another folder.");
    }
    EXPECT_FALSE(std::filesystem::exists(m_root.file("locked/sub"))) << "a refused folder is never created";
}

INSTANTIATE_TEST_SUITE_P(Requests, Destination, ::testing::ValuesIn(destinationCases()),
                         [](const ::testing::TestParamInfo<DestinationCase>& info) { return info.param.name; });

TEST_F(DestinationFixture, TheDefaultAutomaticFolderIsTheDesktopsDownloadFolder)
{
    DownloadDestination destination(m_desktop.desktop(), nullptr);
    std::string folder;

    ASSERT_TRUE(destination.defaultAutoDownloadDirectory(folder));
    EXPECT_EQ(folder, root() + "/Downloads/Ferrovan");
    EXPECT_FALSE(std::filesystem::exists(folder)) << "named, not created";

    for (const std::string& named : {std::string(), m_root.file("gone"), std::string("Downloads")}) {
        m_desktop.downloadsDirectory = named;
        folder.clear();
        EXPECT_FALSE(destination.defaultAutoDownloadDirectory(folder)) << named;
        EXPECT_TRUE(folder.empty());
    }
}

} // namespace
