#include "shell/Clipboard.h"
#include "shell/FerrovanLogger.h"

#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <memory>
#include <string>

namespace {

using ferrovan::CFerrovanLogger;

std::string clipboardText()
{
    GtkClipboard* clipboard = gtk_clipboard_get_for_display(gdk_display_get_default(), GDK_SELECTION_CLIPBOARD);
    const std::unique_ptr<gchar, decltype(&g_free)> text(gtk_clipboard_wait_for_text(clipboard), &g_free);
    return text ? text.get() : "<none>";
}

class Clipboard : public ::testing::Test {
protected:
    void SetUp() override { CFerrovanLogger::setLogFilePath(m_dir.file("fv_app.log")); }
    void TearDown() override { CFerrovanLogger::destroyInstance(); }

    std::string logText() const { return fv_test::readFile(m_dir.file("fv_app.log")); }

    fv_test::Watchdog m_watchdog{"a Clipboard test", std::chrono::seconds(60)};
    fv_test::TempDir m_dir;
};

// First in the file: once a test has started GTK, the process has a display for good.
TEST_F(Clipboard, WithoutADisplayNothingIsCopied)
{
    ASSERT_EQ(nullptr, gdk_display_get_default());
    EXPECT_FALSE(ferrovan::createClipboard()->copy("text"));
    EXPECT_NE(std::string::npos, logText().find("ClipboardLinux::copy: no display")) << logText();
}

TEST_F(Clipboard, CopiedTextIsWhatTheClipboardHolds)
{
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    const auto clipboard = ferrovan::createClipboard();
    const std::string texts[] = {"h\xC3\xA9llo w\xC3\xB6rld", "line one\nline two\t\xF0\x9F\x98\x80", ""};
    for (const std::string& text : texts) {
        EXPECT_TRUE(clipboard->copy(text)) << text;
        EXPECT_EQ(text, clipboardText());
    }
}

TEST_F(Clipboard, TextThatIsNotUtf8IsRefusedAndTheClipboardKept)
{
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    const auto clipboard = ferrovan::createClipboard();
    ASSERT_TRUE(clipboard->copy("kept"));
    EXPECT_FALSE(clipboard->copy("bad \xFF\xFE"));
    EXPECT_EQ("kept", clipboardText());
    EXPECT_NE(std::string::npos, logText().find("ClipboardLinux::copy: the text is not UTF-8")) << logText();
}

} // namespace
