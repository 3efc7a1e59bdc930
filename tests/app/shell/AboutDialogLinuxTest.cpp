#include "shell/AboutDialog.h"
#include "shell/linux/GtkWindows.h"

#include "app/shell/TestParentWindow.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"
#include "support/gui/GtkDriver.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using fv_test::contains;
using fv_test::GtkDriver;

const fv_test::WindowMatch kAbout{GTK_TYPE_DIALOG, "About Ferrovan"};

// What the user saw of the About dialog.
struct SeenAbout {
    std::vector<std::string> labels;
    std::string licence;
    bool licenceEditable = true;
    bool modal = false;
    GtkWindow* transientFor = nullptr;
    void* handleWhileShown = nullptr;
};

struct AboutCase {
    const char* name;
    const char* licenceFile; // null: no lic.txt
    std::string expectedLicence;
    std::function<void(ferrovan::IAboutDialog&, GtkWindow*)> end;
};

TEST(AboutDialogLinux, ShowsTheVersionAndTheLicenceReadOnly)
{
    ASSERT_TRUE(GtkDriver::startGtk());
    const std::string licence = "Ferrovan licence — ünïcödé ©\nSecond line\r\nThird line\n";
    const AboutCase cases[] = {
        {"licence, closed by its button", licence.c_str(), licence,
         [](ferrovan::IAboutDialog&, GtkWindow* window) {
             EXPECT_TRUE(GtkDriver::clickButton(GTK_WIDGET(window), "Close"));
         }},
        {"damaged UTF-8, closed with the frame", "ok \xff\xfe end", "ok \xEF\xBF\xBD\xEF\xBF\xBD end",
         [](ferrovan::IAboutDialog&, GtkWindow* window) { GtkDriver::sendDeleteEvent(window); }},
        {"no licence file, ended by close()", nullptr, "",
         [](ferrovan::IAboutDialog& dialog, GtkWindow*) { dialog.close(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fv_test::Watchdog watchdog(std::string("About dialog, ") + c.name);
        fv_test::TempDir resources;
        if (c.licenceFile != nullptr)
            std::ofstream(resources.file("lic.txt"), std::ios::binary) << c.licenceFile;
        fv_test::TestParentWindow parent;
        const auto dialog = ferrovan::createAboutDialog(&parent, resources.path(), "4.1.9");
        EXPECT_EQ(dialog->getNativeWindow(), nullptr);
        SeenAbout seen;
        GtkDriver driver;
        driver.when(kAbout, [&](GtkWindow* window) {
            seen.labels = GtkDriver::labelTexts(GTK_WIDGET(window));
            const auto views = GtkDriver::descendants(GTK_WIDGET(window), GTK_TYPE_TEXT_VIEW);
            ASSERT_EQ(views.size(), 1u);
            seen.licence = ferrovan::textOf(gtk_text_view_get_buffer(GTK_TEXT_VIEW(views[0])));
            seen.licenceEditable = gtk_text_view_get_editable(GTK_TEXT_VIEW(views[0])) != FALSE;
            seen.modal = gtk_window_get_modal(window) != FALSE;
            seen.transientFor = gtk_window_get_transient_for(window);
            seen.handleWhileShown = dialog->getNativeWindow();
            c.end(*dialog, window);
        });

        EXPECT_FALSE(dialog->showModal());

        EXPECT_TRUE(driver.allDone());
        EXPECT_TRUE(contains(seen.labels, "Ferrovan"));
        EXPECT_TRUE(contains(seen.labels, "Version 4.1.9"));
        EXPECT_EQ(seen.licence, c.expectedLicence);
        EXPECT_FALSE(seen.licenceEditable);
        EXPECT_TRUE(seen.modal);
        EXPECT_EQ(seen.transientFor, parent.window());
        EXPECT_NE(seen.handleWhileShown, nullptr);
        // The window is gone: its handle must not outlive it.
        EXPECT_EQ(dialog->getNativeWindow(), nullptr);
        EXPECT_EQ(GtkDriver::findMappedWindow(kAbout), nullptr);
    }
}

// The licence the program ships is read the way the program reads it.
TEST(AboutDialogLinux, ShowsTheShippedLicence)
{
    ASSERT_TRUE(GtkDriver::startGtk());
    fv_test::Watchdog watchdog("About dialog with the shipped licence");
    const auto dialog = ferrovan::createAboutDialog(nullptr, FV_RESOURCES_DIR, "4.1.9");
    std::string licence;
    GtkDriver driver;
    driver.when(kAbout, [&](GtkWindow* window) {
        const auto views = GtkDriver::descendants(GTK_WIDGET(window), GTK_TYPE_TEXT_VIEW);
        licence = ferrovan::textOf(gtk_text_view_get_buffer(GTK_TEXT_VIEW(views.at(0))));
        GtkDriver::sendDeleteEvent(window);
    });

    dialog->showModal();

    EXPECT_TRUE(driver.allDone());
    EXPECT_NE(licence.find("Copyright © Ferrovan"), std::string::npos);
}

} // namespace
