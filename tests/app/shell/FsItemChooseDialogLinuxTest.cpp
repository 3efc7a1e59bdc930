#include "shell/FileChooseDialog.h"
#include "shell/FolderChooseDialog.h"

#include "app/shell/ScopedVariable.h"
#include "app/shell/TestParentWindow.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"
#include "support/gui/GtkDriver.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace {

using fv_test::GtkDriver;

// The in-process chooser GtkFileChooserNative falls back to without a desktop portal.
const fv_test::WindowMatch kChooser{GTK_TYPE_FILE_CHOOSER_DIALOG, ""};

// What the user saw of a chooser.
struct SeenChooser {
    std::string title;
    bool modal = false;
    GtkWindow* transientFor = nullptr;
    GtkFileChooserAction action = GTK_FILE_CHOOSER_ACTION_SAVE;
    bool selectMultiple = false;
    bool localOnly = false;
};

SeenChooser look(GtkWindow* window)
{
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(window);
    SeenChooser seen;
    seen.title = gtk_window_get_title(window);
    seen.modal = gtk_window_get_modal(window) != FALSE;
    seen.transientFor = gtk_window_get_transient_for(window);
    seen.action = gtk_file_chooser_get_action(chooser);
    seen.selectMultiple = gtk_file_chooser_get_select_multiple(chooser) != FALSE;
    seen.localOnly = gtk_file_chooser_get_local_only(chooser) != FALSE;
    return seen;
}

void makeFolder(const std::string& path)
{
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0) << path;
}

// "one.txt", "two é.txt" and "sub/"; one level down, a file and a folder whose names are not
// UTF-8 (a filesystem allows any bytes; no URL for the page can be made of them).
class FsItemChooseDialogLinux : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(GtkDriver::startGtk());
        fv_test::writeFile(m_dir.file("one.txt"), "1");
        fv_test::writeFile(m_dir.file("two é.txt"), "2");
        makeFolder(m_dir.file("sub"));
        makeFolder(m_dir.file("odd"));
        fv_test::writeFile(oddFile(), "3");
        fv_test::writeFile(m_dir.file("odd/good.txt"), "4");
        makeFolder(m_dir.file("oddFolder"));
        makeFolder(oddFolder());
    }

    std::string path(const std::string& name) const { return m_dir.file(name); }
    std::string url(const std::string& encodedName) const { return "file://" + m_dir.path() + "/" + encodedName; }
    std::string oddFile() const { return m_dir.file("odd/bad\xff.txt"); }
    std::string oddFolder() const { return m_dir.file("oddFolder/bad\xfe"); }

    // The choosers run GTK's own dialog, never a portal's.
    fv_test::ScopedVariable m_noPortal{"GTK_USE_PORTAL", nullptr};
    fv_test::TempDir m_dir;
};

struct ChooseCase {
    const char* name;
    bool folderChooser;
    std::string folder;                          // relative to the test's folder
    std::function<void(GtkFileChooser*)> select; // what the user picks
    std::vector<std::string> shown;              // the chooser's selection, relative
    bool expected;
    std::vector<std::string> appended; // encoded names
};

void selectAll(GtkFileChooser* chooser)
{
    gtk_file_chooser_select_all(chooser);
}

std::unique_ptr<ferrovan::IFsItemChooseDialog> createChooser(bool folder, ferrovan::INativeUiDataHolder* parent)
{
    if (folder)
        return ferrovan::createFolderChooseDialog(parent);
    return ferrovan::createFileChooseDialog(parent);
}

TEST_F(FsItemChooseDialogLinux, ConfirmedChoiceAppendsItsUrlsInTheChoosersOrder)
{
    const std::string sub = path("sub");
    const ChooseCase cases[] = {
        // Select-all picks files only: "sub" stays out of a file choice.
        {"all files", false, "", &selectAll, {"one.txt", "two é.txt"}, true, {"one.txt", "two%20%C3%A9.txt"}},
        {"one folder",
         true,
         "",
         [sub](GtkFileChooser* c) { gtk_file_chooser_select_filename(c, sub.c_str()); },
         {"sub"},
         true,
         {"sub"}},
        // All or nothing: the page would otherwise act on part of what the user picked.
        {"with a file name that is not UTF-8",
         false,
         "odd",
         &selectAll,
         {"odd/bad\xff.txt", "odd/good.txt"},
         false,
         {}},
        {"a folder name that is not UTF-8",
         true,
         "oddFolder",
         [this](GtkFileChooser* c) { gtk_file_chooser_select_filename(c, oddFolder().c_str()); },
         {"oddFolder/bad\xfe"},
         false,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fv_test::Watchdog watchdog(std::string("chooser, ") + c.name, std::chrono::seconds(60));
        fv_test::TestParentWindow parent;
        const auto chooser = createChooser(c.folderChooser, &parent);
        chooser->setTitle("Choose what to upload");
        std::vector<std::string> shown;
        for (const auto& name : c.shown)
            shown.push_back(path(name));
        SeenChooser seen;
        GtkDriver driver;
        const std::string folder = c.folder.empty() ? m_dir.path() : path(c.folder);
        driver.when(kChooser, GtkDriver::chooserShows(folder, c.select, shown), [&](GtkWindow* window) {
            seen = look(window);
            GtkDriver::respond(window, GTK_RESPONSE_ACCEPT);
        });
        std::vector<std::string> urls{"file:///earlier/choice"};

        EXPECT_EQ(chooser->run(urls), c.expected);

        EXPECT_TRUE(driver.allDone());
        std::vector<std::string> expectedUrls{"file:///earlier/choice"};
        for (const auto& name : c.appended)
            expectedUrls.push_back(url(name));
        EXPECT_EQ(urls, expectedUrls);
        EXPECT_EQ(seen.title, "Choose what to upload");
        EXPECT_TRUE(seen.modal);
        EXPECT_EQ(seen.transientFor, parent.window());
        EXPECT_TRUE(seen.localOnly);
        EXPECT_EQ(seen.action, c.folderChooser ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN);
        EXPECT_EQ(seen.selectMultiple, !c.folderChooser);
    }
}

TEST_F(FsItemChooseDialogLinux, TurningTheChooserDownAnswersFalseAndLeavesTheUrls)
{
    const std::string sub = path("sub");
    for (const bool folder : {false, true}) {
        for (const auto& dismissal : GtkDriver::dismissals()) {
            SCOPED_TRACE(std::string(folder ? "folder chooser, " : "file chooser, ") + dismissal.name);
            fv_test::Watchdog watchdog(std::string("chooser turned down with ") + dismissal.name,
                                       std::chrono::seconds(60));
            fv_test::TestParentWindow parent;
            const auto chooser = createChooser(folder, &parent);
            GtkDriver driver;
            // Something picked first, so that only the dismissal keeps the choice from being made.
            auto picked =
                folder ? GtkDriver::chooserShows(
                             m_dir.path(),
                             [sub](GtkFileChooser* c) { gtk_file_chooser_select_filename(c, sub.c_str()); }, {sub})
                       : GtkDriver::chooserShows(m_dir.path(), &selectAll, {path("one.txt"), path("two é.txt")});
            driver.when(kChooser, picked, dismissal.dismiss);
            std::vector<std::string> urls{"file:///earlier/choice"};

            EXPECT_FALSE(chooser->run(urls));

            EXPECT_TRUE(driver.allDone());
            EXPECT_EQ(urls, std::vector<std::string>{"file:///earlier/choice"});
        }
    }
}

TEST_F(FsItemChooseDialogLinux, StandsAloneWithoutAParent)
{
    fv_test::Watchdog watchdog("chooser without a parent", std::chrono::seconds(60));
    const auto chooser = ferrovan::createFileChooseDialog();
    SeenChooser seen;
    GtkDriver driver;
    driver.when(kChooser, GtkDriver::chooserShows(m_dir.path(), &selectAll, {path("one.txt"), path("two é.txt")}),
                [&](GtkWindow* window) {
                    seen = look(window);
                    GtkDriver::respond(window, GTK_RESPONSE_ACCEPT);
                });
    std::vector<std::string> urls;

    EXPECT_TRUE(chooser->run(urls));

    EXPECT_EQ(urls, (std::vector<std::string>{url("one.txt"), url("two%20%C3%A9.txt")}));
    EXPECT_EQ(seen.transientFor, nullptr);
}

} // namespace
