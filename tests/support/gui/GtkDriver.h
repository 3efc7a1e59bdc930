#pragma once

#include <gtk/gtk.h>

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace fv_test {

// Which toplevel a step waits for: mapped, of `type` (or a subtype), and titled `title` unless
// that is empty.
struct WindowMatch {
    GType type;
    std::string title;
};

// Drives dialogs in-process while the code under test sits in their modal loop (gtk_dialog_run
// or any other loop on this thread): a GLib timeout polls the toplevels for the first pending
// step's window and runs its action once it is mapped. Each step has a deadline; a step that
// misses it fails the test and answers every open dialog with GTK_RESPONSE_DELETE_EVENT, so the
// code under test returns instead of hanging. Only the thread that runs GTK may use it.
class GtkDriver {
public:
    using Action = std::function<void(GtkWindow*)>;
    // Asked at every poll once the step's window is mapped; the step acts when it answers true.
    // It may act itself, to repeat what the window ignores until it is ready.
    using Ready = std::function<bool(GtkWindow*)>;

    GtkDriver();
    ~GtkDriver();
    GtkDriver(const GtkDriver&) = delete;
    GtkDriver& operator=(const GtkDriver&) = delete;

    // Queues a step; steps run in the order queued.
    GtkDriver& when(WindowMatch match, Action action,
                    std::chrono::milliseconds deadline = std::chrono::milliseconds(20000));
    GtkDriver& when(WindowMatch match, Ready ready, Action action,
                    std::chrono::milliseconds deadline = std::chrono::milliseconds(20000));
    // How many steps have acted, and whether all have.
    int stepsDone() const;
    bool allDone() const;

    // GTK on the session's display, started once per process; false without a display.
    static bool startGtk();

    static GtkWindow* findMappedWindow(const WindowMatch& match);
    // Every widget under `root` (itself included) of `type`, internal children too, in
    // depth-first order.
    static std::vector<GtkWidget*> descendants(GtkWidget* root, GType type);
    static std::vector<std::string> labelTexts(GtkWidget* root);
    // Clicks the button whose label, without its mnemonic underline, is `label`; false when
    // there is none.
    static bool clickButton(GtkWidget* root, const std::string& label);
    static void setEntryText(GtkWidget* entry, const std::string& text);
    static void setToggle(GtkWidget* toggle, bool active);
    static void respond(GtkWindow* dialog, int response);
    // What the window manager sends when the user closes the window with its frame.
    static void sendDeleteEvent(GtkWindow* window);
    // Runs what the window's key bindings do for Escape (a dialog's "close").
    static void pressEscape(GtkWindow* window);

    // File choosers. The in-process chooser loads a folder asynchronously and ignores ACCEPT while
    // nothing is selected, and selecting before the folder has loaded selects nothing. This opens
    // `folder` once, then repeats `select` at each poll until the chooser's filenames are
    // `expected`.
    static Ready chooserShows(const std::string& folder, std::function<void(GtkFileChooser*)> select,
                              std::vector<std::string> expected);
    static std::vector<std::string> chosenFilenames(GtkWindow* chooser);

    // The ways a user turns a dialog down: its Cancel button, Escape, the frame's close button.
    struct Dismissal {
        const char* name;
        Action dismiss;
    };
    static std::vector<Dismissal> dismissals();

private:
    struct Step {
        WindowMatch match;
        Ready ready;
        Action action;
        std::chrono::milliseconds deadline;
    };

    static gboolean poll(gpointer self);
    void pollOnce();
    void failPendingSteps();

    std::deque<Step> m_steps;
    std::chrono::steady_clock::time_point m_stepStart;
    int m_done = 0;
    GSource* m_source;
};

// Whether `text` is one of `texts` (as labelTexts gives them).
bool contains(const std::vector<std::string>& texts, const std::string& text);

} // namespace fv_test
