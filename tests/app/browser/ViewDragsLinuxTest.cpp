#include "WebViewFixture.h"

#include "browser/host/linux/CefDragDataLinux.h"

#include <Poco/File.h>

#include <gdk/gdkx.h>
#include <X11/extensions/XTest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

using namespace fv_test;

namespace {

// Keeps what each drag over the view was said to carry, and answers as the test says.
class DragClient : public RecordingClient {
public:
    struct Enter {
        bool file;
        bool fragment;
        std::vector<std::string> paths;
    };

    bool OnDragEnter(fvcef::CefRefPtr<fvcef::CefBrowser>, fvcef::CefRefPtr<fvcef::CefDragData> data,
                     fvcef::cef_drag_operations_mask_t) override
    {
        std::vector<fvcef::CefString> names;
        data->GetFileNames(names);
        enters.push_back({data->IsFile(), data->IsFragment(), std::vector<std::string>(names.begin(), names.end())});
        if (whileAsked)
            whileAsked();
        return refuse;
    }

    bool refuse = false;
    std::function<void()> whileAsked;
    std::vector<Enter> enters;
};

// The page shows in its title each kind of drag event it got (dragover once); a drop with the
// types it offers and its text. The engine keeps a file drop's paths from the page's script.
const char* const kDragPage = R"(<html><body style="margin:0; height:100vh">
<script>
const seen = [];
function dropped(data) {
    const text = data.getData('text/plain');
    return Array.from(data.types).join(',') + (text ? '=' + text : '');
}
function note(e) {
    if (e.type === 'dragover' && seen.includes('dragover')) return;
    seen.push(e.type === 'drop' ? 'drop:' + dropped(e.dataTransfer) : e.type);
    document.title = seen.join(' ');
}
for (const type of ['dragenter', 'dragover', 'drop'])
    document.addEventListener(type, e => { e.preventDefault(); note(e); });
</script></body></html>)";

// A window of another program's kind that the user drags from: it offers either a URI list or
// text.
class DragSource {
public:
    DragSource(std::string uriList, std::string text)
        : m_uriList(std::move(uriList)), m_text(std::move(text)), m_window(gtk_window_new(GTK_WINDOW_TOPLEVEL))
    {
        g_object_ref_sink(m_window);
        gtk_window_move(GTK_WINDOW(m_window), 0, 0);
        gtk_window_set_default_size(GTK_WINDOW(m_window), 200, 200);
        GtkWidget* area = gtk_event_box_new();
        gtk_container_add(GTK_CONTAINER(m_window), area);
        gtk_drag_source_set(area, GDK_BUTTON1_MASK, nullptr, 0,
                            static_cast<GdkDragAction>(GDK_ACTION_COPY | GDK_ACTION_MOVE | GDK_ACTION_LINK));
        if (!m_uriList.empty())
            gtk_drag_source_add_uri_targets(area);
        else
            gtk_drag_source_add_text_targets(area);
        g_signal_connect(area, "drag-data-get", G_CALLBACK(onDataGet), this);
        g_signal_connect(area, "drag-begin", G_CALLBACK(onBegin), this);
        g_signal_connect(area, "drag-end", G_CALLBACK(onEnd), this);
        gtk_widget_show_all(m_window);
    }
    ~DragSource()
    {
        gtk_widget_destroy(m_window);
        g_object_unref(m_window);
    }
    DragSource(const DragSource&) = delete;
    DragSource& operator=(const DragSource&) = delete;

    bool mapped() const { return gtk_widget_get_mapped(m_window); }

    int begun = 0;
    int ended = 0;

private:
    static void onDataGet(GtkWidget*, GdkDragContext*, GtkSelectionData* data, guint, guint, gpointer self)
    {
        auto* source = static_cast<DragSource*>(self);
        if (!source->m_uriList.empty())
            gtk_selection_data_set(data, gtk_selection_data_get_target(data), 8,
                                   reinterpret_cast<const guchar*>(source->m_uriList.data()),
                                   static_cast<gint>(source->m_uriList.size()));
        else
            gtk_selection_data_set_text(data, source->m_text.c_str(), -1);
    }
    static void onBegin(GtkWidget*, GdkDragContext*, gpointer self) { ++static_cast<DragSource*>(self)->begun; }
    static void onEnd(GtkWidget*, GdkDragContext*, gpointer self) { ++static_cast<DragSource*>(self)->ended; }

    const std::string m_uriList;
    const std::string m_text;
    GtkWidget* m_window;
};

// The user's pointer, through the display's test extension: the drag goes through the desktop's
// own drag protocol from one window to the other.
class Pointer {
public:
    void moveTo(int x, int y)
    {
        m_x = x;
        m_y = y;
        XTestFakeMotionEvent(display(), -1, x, y, CurrentTime);
        XFlush(display());
    }
    void button(bool down)
    {
        XTestFakeButtonEvent(display(), 1, down ? True : False, CurrentTime);
        XFlush(display());
    }
    // A drag source sends a new position only when the last one was answered: the pointer keeps
    // stirring on the spot until `done`.
    bool stirUntil(const std::function<bool()>& done)
    {
        int rounds = 0;
        return runMainContextUntil(
            [&] {
                if (done())
                    return true;
                if (++rounds % 10 == 0) {
                    const int x = m_x;
                    moveTo(x + (rounds % 20 == 0 ? 1 : -1), m_y);
                    m_x = x;
                }
                return false;
            },
            std::chrono::seconds(20));
    }

private:
    static Display* display() { return gdk_x11_get_default_xdisplay(); }

    int m_x = 0;
    int m_y = 0;
};

class ViewDragsLinuxTest : public WebViewFixture {
protected:
    void SetUp() override
    {
        WebViewFixture::SetUp();
        m_client = m_drags;
        Poco::File(m_localPages).createDirectories();
        writeFile(m_localPages + "/drag.html", kDragPage);
        ASSERT_NO_FATAL_FAILURE(open("fv-resource://local/drag.html"));
        auto* window = static_cast<GtkWindow*>(m_browser->GetHost()->GetWindowHandle());
        gtk_window_move(window, 240, 0);
        ASSERT_TRUE(runMainContextUntil(
            [&] {
                int x = 0, y = 0;
                gtk_window_get_position(window, &x, &y);
                return x == 240 && gtk_widget_get_mapped(GTK_WIDGET(view()));
            },
            kDeadline));
    }

    std::string pageSaw() const
    {
        const char* title = webkit_web_view_get_title(view());
        return title != nullptr ? title : "";
    }

    // Presses on the source, drags onto the middle of the view and waits for the client's answer.
    void dragOntoView(DragSource& source)
    {
        ASSERT_TRUE(runMainContextUntil([&] { return source.mapped(); }, kDeadline));
        m_pointer.moveTo(100, 100);
        runReady(nullptr);
        m_pointer.button(true);
        for (int step = 1; step <= 10; ++step) {
            m_pointer.moveTo(100 + step * 5, 100);
            runReady(nullptr);
        }
        ASSERT_TRUE(m_pointer.stirUntil([&] { return source.begun == 1; }));
        GdkWindow* target = gtk_widget_get_window(GTK_WIDGET(view()));
        int x = 0, y = 0;
        gdk_window_get_origin(target, &x, &y);
        GtkAllocation area;
        gtk_widget_get_allocation(GTK_WIDGET(view()), &area);
        m_pointer.moveTo(x + area.x + area.width / 2, y + area.y + area.height / 2);
        ASSERT_TRUE(m_pointer.stirUntil([&] { return !m_drags->enters.empty(); }));
    }

    // The page saw the drag come in, then its drop, whose description holds `part`.
    bool pageGetsDropWith(const std::string& part)
    {
        return runMainContextUntil(
            [&] {
                const std::string saw = pageSaw();
                return saw.rfind("dragenter dragover drop:", 0) == 0 && saw.find(part) != std::string::npos;
            },
            kDeadline);
    }

    void drop(DragSource& source)
    {
        m_pointer.button(false);
        ASSERT_TRUE(runMainContextUntil([&] { return source.ended == 1; }, kDeadline));
    }

    fvcef::CefRefPtr<DragClient> m_drags{new DragClient};
    Pointer m_pointer;
};

std::string uriListOf(const std::vector<std::string>& paths)
{
    std::string list;
    for (const std::string& path : paths) {
        gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
        list += std::string(uri) + "\r\n";
        g_free(uri);
    }
    return list;
}

TEST_F(ViewDragsLinuxTest, RefusedFilesNeverReachThePage)
{
    const std::vector<std::string> files = {m_dir.file("report 1.txt"), m_dir.file("b.bin")};
    for (const std::string& file : files)
        writeFile(file, "x");
    m_drags->refuse = true;
    DragSource source(uriListOf(files), "");
    ASSERT_NO_FATAL_FAILURE(dragOntoView(source));
    ASSERT_EQ(1u, m_drags->enters.size());
    EXPECT_TRUE(m_drags->enters[0].file);
    EXPECT_FALSE(m_drags->enters[0].fragment);
    EXPECT_EQ(files, m_drags->enters[0].paths);

    ASSERT_NO_FATAL_FAILURE(drop(source));
    EXPECT_EQ(1u, m_drags->enters.size()) << "asked once per drag";
    // A script's round trip: whatever reached the page before it has been handled.
    EXPECT_EQ("\"\"", evaluate("document.title"));
}

TEST_F(ViewDragsLinuxTest, AllowedFilesReachThePageAsTheyWould)
{
    const std::vector<std::string> files = {m_dir.file("photo 1.jpg"), m_dir.file("b.bin")};
    for (const std::string& file : files)
        writeFile(file, "x");
    DragSource source(uriListOf(files), "");
    ASSERT_NO_FATAL_FAILURE(dragOntoView(source));
    ASSERT_TRUE(m_drags->enters[0].file);
    EXPECT_EQ(files, m_drags->enters[0].paths);
    ASSERT_TRUE(m_pointer.stirUntil([&] { return pageSaw() == "dragenter dragover"; })) << pageSaw();
    ASSERT_NO_FATAL_FAILURE(drop(source));
    EXPECT_TRUE(pageGetsDropWith("text/uri-list")) << pageSaw();
    EXPECT_EQ(1u, m_drags->enters.size());
}

TEST_F(ViewDragsLinuxTest, DraggedTextIsAFragmentTheClientMayLetThrough)
{
    DragSource source("", "some words");
    ASSERT_NO_FATAL_FAILURE(dragOntoView(source));
    EXPECT_TRUE(m_drags->enters[0].fragment);
    EXPECT_FALSE(m_drags->enters[0].file);
    ASSERT_TRUE(m_pointer.stirUntil([&] { return pageSaw() == "dragenter dragover"; })) << pageSaw();
    ASSERT_NO_FATAL_FAILURE(drop(source));
    EXPECT_TRUE(pageGetsDropWith("=some words")) << pageSaw();
}

// The client closes the browser while it is asked: the drag goes on without the view, and the
// source ends it as over any other place that takes nothing.
TEST_F(ViewDragsLinuxTest, ClosingTheBrowserMidDragEndsItQuietly)
{
    const std::vector<std::string> files = {m_dir.file("a.txt")};
    writeFile(files[0], "x");
    m_drags->whileAsked = [this] { m_browser->CloseBrowser(true); };
    DragSource source(uriListOf(files), "");
    ASSERT_NO_FATAL_FAILURE(dragOntoView(source));
    EXPECT_EQ(1, m_client->closed);
    EXPECT_EQ(nullptr, m_browser->getWebView());
    ASSERT_NO_FATAL_FAILURE(drop(source));
    EXPECT_EQ(1u, m_drags->enters.size());
}

} // namespace
