#pragma once

#include "shell/NativeUiDataHolder.h"

#include <gtk/gtk.h>

namespace fv_test {

// A shown toplevel standing in for the program's main window as a dialog's parent.
class TestParentWindow : public ferrovan::INativeUiDataHolder {
public:
    TestParentWindow() : m_window(gtk_window_new(GTK_WINDOW_TOPLEVEL))
    {
        gtk_window_set_title(GTK_WINDOW(m_window), "Parent");
        gtk_widget_show(m_window);
    }
    ~TestParentWindow() override { gtk_widget_destroy(m_window); }
    TestParentWindow(const TestParentWindow&) = delete;
    TestParentWindow& operator=(const TestParentWindow&) = delete;

    void* getNativeWindow() override { return m_window; }
    GtkWindow* window() const { return GTK_WINDOW(m_window); }

private:
    GtkWidget* m_window;
};

} // namespace fv_test
