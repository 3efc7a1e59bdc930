#include "app/shell/FeedBundleInfo.h"
#include "support/fixtures/Watchdog.h"
#include "support/gui/GtkDriver.h"
#include "support/gui/MainContextWait.h"
#include "support/net/TestCa.h"
#include "support/service/TestService.h"

#include "shell/AppcastFeed.h"
#include "shell/OsFileExplorer.h"
#include "shell/Updater.h"
#include "shell/linux/UpdaterDialogLinux.h"
#include "shell/linux/UpdaterLoopLinux.h"

#include <Poco/SharedPtr.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace fv_test;
using ferrovan::Updater;
using ferrovan::UpdaterDialogLinux;
using ferrovan::UpdaterLoopLinux;

namespace {

using Opened = std::vector<std::string>;

class UpdaterDialogLinuxTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(GtkDriver::startGtk()); }

    UpdaterDialogLinux::Opener recordingOpener()
    {
        return [this](const std::string& url) {
            m_opened.push_back(url);
            return true;
        };
    }

    Opened m_opened;
};

// The visible message box titled "Ferrovan" that says `text`, or null.
GtkDialog* boxSaying(const std::string& text)
{
    GtkDialog* found = nullptr;
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* item = toplevels; item != nullptr && found == nullptr; item = item->next) {
        if (!GTK_IS_MESSAGE_DIALOG(item->data) || !gtk_widget_get_visible(GTK_WIDGET(item->data)))
            continue;
        const char* title = gtk_window_get_title(GTK_WINDOW(item->data));
        gchar* itsText = nullptr;
        g_object_get(item->data, "text", &itsText, nullptr);
        if (title != nullptr && std::string(title) == "Ferrovan" && itsText != nullptr && text == itsText)
            found = GTK_DIALOG(item->data);
        g_free(itsText);
    }
    g_list_free(toplevels);
    return found;
}

std::string buttonLabel(GtkDialog* box, gint response)
{
    GtkWidget* button = gtk_dialog_get_widget_for_response(box, response);
    const char* label = button != nullptr ? gtk_button_get_label(GTK_BUTTON(button)) : nullptr;
    return label != nullptr ? label : "";
}

const char* const kOffer = "Ferrovan 4.1.10 is available. You have 4.1.9.";

} // namespace

TEST_F(UpdaterDialogLinuxTest, OnlyDownloadOpensTheOfferedPage)
{
    Watchdog watchdog("update offer", std::chrono::seconds(60));
    struct Case {
        const char* name;
        gint response;
        Opened opened;
    };
    const Case cases[] = {
        {"Download", GTK_RESPONSE_ACCEPT, {"https://example.test/notes?v=4.1.10"}},
        {"Later", GTK_RESPONSE_CANCEL, {}},
        {"closed", GTK_RESPONSE_DELETE_EVENT, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_opened.clear();
        UpdaterDialogLinux dialog(recordingOpener());

        dialog.offerUpdate(kOffer, "https://example.test/notes?v=4.1.10");
        GtkDialog* box = nullptr;
        ASSERT_TRUE(runMainContextUntil([&] { return (box = boxSaying(kOffer)) != nullptr; }));
        EXPECT_EQ("Download", buttonLabel(box, GTK_RESPONSE_ACCEPT));
        EXPECT_EQ("Later", buttonLabel(box, GTK_RESPONSE_CANCEL));
        gtk_dialog_response(box, c.response);

        EXPECT_TRUE(runMainContextUntil([] { return boxSaying(kOffer) == nullptr; }));
        EXPECT_EQ(c.opened, m_opened);
    }
}

TEST_F(UpdaterDialogLinuxTest, AMessageIsClosedWithOkAndOpensNothing)
{
    Watchdog watchdog("update message");
    UpdaterDialogLinux dialog(recordingOpener());

    dialog.showMessage("Ferrovan is up to date.");
    GtkDialog* box = nullptr;
    ASSERT_TRUE(runMainContextUntil([&] { return (box = boxSaying("Ferrovan is up to date.")) != nullptr; }));
    EXPECT_EQ("", buttonLabel(box, GTK_RESPONSE_ACCEPT));
    ASSERT_NE(nullptr, gtk_dialog_get_widget_for_response(box, GTK_RESPONSE_OK));
    gtk_dialog_response(box, GTK_RESPONSE_OK);

    EXPECT_TRUE(runMainContextUntil([] { return boxSaying("Ferrovan is up to date.") == nullptr; }));
    EXPECT_TRUE(m_opened.empty());
}

TEST_F(UpdaterDialogLinuxTest, BoxesStillOpenEndWithTheDialog)
{
    Watchdog watchdog("open boxes");
    {
        UpdaterDialogLinux dialog(recordingOpener());
        dialog.offerUpdate(kOffer, "https://example.test/notes");
        dialog.showMessage("Could not check for updates.");
        ASSERT_TRUE(runMainContextUntil([] { return boxSaying(kOffer) != nullptr; }));
    }
    EXPECT_TRUE(runMainContextUntil(
        [] { return boxSaying(kOffer) == nullptr && boxSaying("Could not check for updates.") == nullptr; }));
    EXPECT_TRUE(m_opened.empty());
}

// The feed names the page, so nothing but a web page may be launched from it.
TEST_F(UpdaterDialogLinuxTest, TheDefaultOpenerRefusesAnythingButAWebPage)
{
    for (const char* url : {"file:///etc/passwd", "javascript:alert(1)", "/bin/sh", "smb://host/share",
                            "ftp://example.test/ferrovan.deb", "https://", "http:///notes", ""})
        EXPECT_FALSE(ferrovan::openWebPage(url)) << url;
}

TEST_F(UpdaterDialogLinuxTest, TheLoopRunsTasksFromOtherThreadsAndRepeatsUntilStopped)
{
    Watchdog watchdog("updater loop", std::chrono::seconds(60));
    UpdaterLoopLinux loop;
    std::thread::id ranOn;
    std::thread poster([&] { loop.post([&] { ranOn = std::this_thread::get_id(); }); });
    poster.join();
    ASSERT_TRUE(runMainContextUntil([&] { return ranOn != std::thread::id(); }));
    EXPECT_EQ(std::this_thread::get_id(), ranOn);

    int ticks = 0;
    loop.startRepeating(1, [&] { ++ticks; });
    ASSERT_TRUE(runMainContextUntil([&] { return ticks >= 2; }));
    loop.stopRepeating();
    const int stoppedAt = ticks;
    runMainContextUntil([] { return false; }, std::chrono::milliseconds(1500));
    EXPECT_EQ(stoppedAt, ticks);
}

// The whole road: a newer release on an HTTPS feed, told in a box on the loop's thread, and
// "Download" opening its release notes.
TEST_F(UpdaterDialogLinuxTest, ANewerReleaseIsOfferedAndDownloadOpensItsReleaseNotes)
{
    Watchdog watchdog("update road", std::chrono::seconds(60));
    TestServiceOptions options;
    options.https = true;
    TestService service(options);
    const std::string feed = std::string("<rss version=\"2.0\" xmlns:up=\"") + ferrovan::AppcastFeed::kNamespace +
                             "\"><channel><item><up:releaseNotesLink>https://example.test/notes/4.1.10"
                             "</up:releaseNotesLink><enclosure url=\"https://example.test/ferrovan.deb\" "
                             "up:version=\"4.1.10\" up:shortVersionString=\"4.1.10\"/></item></channel></rss>";
    service.routes().add("GET", "/linux/v4.1/updates.xml", [feed](ServiceRequest&, ServiceResponse& response) {
        response.setBody(200, feed, "application/rss+xml");
    });
    Updater::Parts parts;
    parts.loop = std::make_unique<UpdaterLoopLinux>();
    parts.dialog = std::make_unique<UpdaterDialogLinux>(recordingOpener());
    parts.caFile = TestCa::instance().caFile();
    Updater updater(Poco::makeShared<FeedBundleInfo>("4.1.9", service.url("/linux/v4.1/updates.xml", true)),
                    std::move(parts));

    updater.checkForUpdatesSilently();
    GtkDialog* box = nullptr;
    ASSERT_TRUE(runMainContextUntil([&] { return (box = boxSaying(kOffer)) != nullptr; }));
    gtk_dialog_response(box, GTK_RESPONSE_ACCEPT);

    EXPECT_TRUE(runMainContextUntil([&] { return !m_opened.empty(); }));
    EXPECT_EQ(Opened{"https://example.test/notes/4.1.10"}, m_opened);
    updater.cleanup();
}
