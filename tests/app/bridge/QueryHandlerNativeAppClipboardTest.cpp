#include "QueryRouterStub.h"
#include "bridge/QueryHandlerNativeApp.h"

#include "support/fixtures/Watchdog.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string clipboardText()
{
    GtkClipboard* clipboard = gtk_clipboard_get_for_display(gdk_display_get_default(), GDK_SELECTION_CLIPBOARD);
    const std::unique_ptr<gchar, decltype(&g_free)> text(gtk_clipboard_wait_for_text(clipboard), &g_free);
    return text ? text.get() : "<none>";
}

TEST(QueryHandlerNativeAppClipboard, CopiesTheValueAsText)
{
    struct Case {
        std::string value;
        std::string copied;
    };
    const Case cases[] = {
        {"42", "42"},
        {"\"h\\u00e9llo\"", "h\xC3\xA9llo"},
        {"true", "true"},
        {"null", ""},
    };
    fv_test::Watchdog watchdog("a clipboard copy through the bridge", std::chrono::seconds(60));
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    ferrovan::CQueryHandlerNativeApp handler;
    fv_test::QueryRouterStub router(handler);

    for (const Case& c : cases) {
        const std::vector<fv_test::QueryAnswer> answers =
            router.send(R"({"method":"copyToClipboard","parameters":{"value":)" + c.value + "}}");
        ASSERT_EQ(answers.size(), 1u) << c.value;
        EXPECT_EQ(answers[0].text, "null\n") << c.value;
        EXPECT_EQ(clipboardText(), c.copied) << c.value;
    }
}

} // namespace
