#include "support/gui/GtkDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <utility>

namespace fv_test {

namespace {

constexpr guint kPollIntervalMs = 20;

void collect(GtkWidget* widget, GType type, std::vector<GtkWidget*>& found)
{
    if (G_TYPE_CHECK_INSTANCE_TYPE(widget, type))
        found.push_back(widget);
    if (!GTK_IS_CONTAINER(widget))
        return;
    // forall, not foreach: a dialog's buttons and a message dialog's labels are internal children.
    std::vector<GtkWidget*> children;
    gtk_container_forall(
        GTK_CONTAINER(widget),
        [](GtkWidget* child, gpointer list) { static_cast<std::vector<GtkWidget*>*>(list)->push_back(child); },
        &children);
    for (GtkWidget* child : children)
        collect(child, type, found);
}

std::string withoutUnderlines(const char* label)
{
    std::string text;
    for (const char* c = label; *c != '\0'; ++c)
        if (*c != '_')
            text += *c;
    return text;
}

std::string describe(const WindowMatch& match)
{
    return std::string(g_type_name(match.type)) + (match.title.empty() ? "" : " \"" + match.title + "\"");
}

} // namespace

GtkDriver::GtkDriver() : m_source(g_timeout_source_new(kPollIntervalMs))
{
    // An action may open the next dialog in a nested loop (an OK that asks for confirmation), in
    // which this source must keep polling for the next step.
    g_source_set_can_recurse(m_source, TRUE);
    g_source_set_callback(m_source, &GtkDriver::poll, this, nullptr);
    g_source_attach(m_source, nullptr);
}

GtkDriver::~GtkDriver()
{
    g_source_destroy(m_source);
    g_source_unref(m_source);
}

GtkDriver& GtkDriver::when(WindowMatch match, Action action, std::chrono::milliseconds deadline)
{
    return when(
        std::move(match), [](GtkWindow*) { return true; }, std::move(action), deadline);
}

GtkDriver& GtkDriver::when(WindowMatch match, Ready ready, Action action, std::chrono::milliseconds deadline)
{
    if (m_steps.empty())
        m_stepStart = std::chrono::steady_clock::now();
    m_steps.push_back({std::move(match), std::move(ready), std::move(action), deadline});
    return *this;
}

int GtkDriver::stepsDone() const
{
    return m_done;
}

bool GtkDriver::allDone() const
{
    return m_steps.empty();
}

bool GtkDriver::startGtk()
{
    static const bool started = gtk_init_check(nullptr, nullptr) != FALSE;
    return started;
}

GtkWindow* GtkDriver::findMappedWindow(const WindowMatch& match)
{
    GtkWindow* found = nullptr;
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* item = toplevels; item != nullptr && found == nullptr; item = item->next) {
        GtkWindow* window = GTK_WINDOW(item->data);
        if (!G_TYPE_CHECK_INSTANCE_TYPE(window, match.type) || !gtk_widget_get_mapped(GTK_WIDGET(window)))
            continue;
        const char* title = gtk_window_get_title(window);
        if (match.title.empty() || (title != nullptr && match.title == title))
            found = window;
    }
    g_list_free(toplevels);
    return found;
}

std::vector<GtkWidget*> GtkDriver::descendants(GtkWidget* root, GType type)
{
    std::vector<GtkWidget*> found;
    collect(root, type, found);
    return found;
}

std::vector<std::string> GtkDriver::labelTexts(GtkWidget* root)
{
    std::vector<std::string> texts;
    for (GtkWidget* label : descendants(root, GTK_TYPE_LABEL))
        texts.emplace_back(gtk_label_get_text(GTK_LABEL(label)));
    return texts;
}

bool GtkDriver::clickButton(GtkWidget* root, const std::string& label)
{
    for (GtkWidget* button : descendants(root, GTK_TYPE_BUTTON)) {
        const char* itsLabel = gtk_button_get_label(GTK_BUTTON(button));
        if (itsLabel != nullptr && withoutUnderlines(itsLabel) == label) {
            gtk_button_clicked(GTK_BUTTON(button));
            return true;
        }
    }
    return false;
}

void GtkDriver::setEntryText(GtkWidget* entry, const std::string& text)
{
    gtk_entry_set_text(GTK_ENTRY(entry), text.c_str());
}

void GtkDriver::setToggle(GtkWidget* toggle, bool active)
{
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(toggle), active ? TRUE : FALSE);
}

void GtkDriver::respond(GtkWindow* dialog, int response)
{
    gtk_dialog_response(GTK_DIALOG(dialog), response);
}

void GtkDriver::sendDeleteEvent(GtkWindow* window)
{
    GdkEvent* event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(GTK_WIDGET(window))));
    event->any.send_event = TRUE;
    gtk_main_do_event(event);
    gdk_event_free(event);
}

void GtkDriver::pressEscape(GtkWindow* window)
{
    gtk_bindings_activate(G_OBJECT(window), GDK_KEY_Escape, static_cast<GdkModifierType>(0));
}

GtkDriver::Ready GtkDriver::chooserShows(const std::string& folder, std::function<void(GtkFileChooser*)> select,
                                         std::vector<std::string> expected)
{
    // Opening the folder again at each poll would restart its loading.
    auto opened = std::make_shared<bool>(false);
    return [folder, select = std::move(select), expected = std::move(expected), opened](GtkWindow* window) {
        GtkFileChooser* chooser = GTK_FILE_CHOOSER(window);
        if (!*opened) {
            *opened = gtk_file_chooser_set_current_folder(chooser, folder.c_str()) != FALSE;
            return false;
        }
        select(chooser);
        return chosenFilenames(window) == expected;
    };
}

std::vector<std::string> GtkDriver::chosenFilenames(GtkWindow* chooser)
{
    std::vector<std::string> names;
    GSList* list = gtk_file_chooser_get_filenames(GTK_FILE_CHOOSER(chooser));
    for (GSList* item = list; item != nullptr; item = item->next)
        names.emplace_back(static_cast<const char*>(item->data));
    g_slist_free_full(list, g_free);
    return names;
}

std::vector<GtkDriver::Dismissal> GtkDriver::dismissals()
{
    return {
        {"Cancel", [](GtkWindow* window) { EXPECT_TRUE(clickButton(GTK_WIDGET(window), "Cancel")); }},
        {"Escape", &GtkDriver::pressEscape},
        {"delete event", &GtkDriver::sendDeleteEvent},
    };
}

gboolean GtkDriver::poll(gpointer self)
{
    static_cast<GtkDriver*>(self)->pollOnce();
    return G_SOURCE_CONTINUE;
}

void GtkDriver::pollOnce()
{
    if (m_steps.empty())
        return;
    GtkWindow* window = findMappedWindow(m_steps.front().match);
    if (window != nullptr && m_steps.front().ready(window)) {
        // Popped before acting: the action may start a nested loop in which this source polls
        // again for the next step.
        Step step = std::move(m_steps.front());
        m_steps.pop_front();
        m_stepStart = std::chrono::steady_clock::now();
        ++m_done;
        step.action(window);
        return;
    }
    if (std::chrono::steady_clock::now() - m_stepStart > m_steps.front().deadline)
        failPendingSteps();
}

void GtkDriver::failPendingSteps()
{
    ADD_FAILURE() << "no mapped window " << describe(m_steps.front().match) << " ready before the step's deadline";
    m_steps.clear();
    // Answering a dialog may end others; each is held until all have been answered.
    std::vector<GtkWidget*> open;
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* item = toplevels; item != nullptr; item = item->next)
        if (GTK_IS_DIALOG(item->data) && gtk_widget_get_mapped(GTK_WIDGET(item->data)))
            open.push_back(GTK_WIDGET(g_object_ref(item->data)));
    g_list_free(toplevels);
    for (GtkWidget* dialog : open) {
        gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_DELETE_EVENT);
        g_object_unref(dialog);
    }
}

bool contains(const std::vector<std::string>& texts, const std::string& text)
{
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

} // namespace fv_test
