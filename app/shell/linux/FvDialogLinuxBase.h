#pragma once

#include "shell/FvDialog.h"

#include <gtk/gtk.h>

#include <string>

namespace ferrovan {

// A GtkDialog built anew by each showModal and ended when it returns. OK goes through onOk,
// which may keep the dialog open; Cancel, Escape and the frame's close button end it without
// asking, unless the dialog is one the user may not close. The window pointer is cleared when
// GTK destroys the window, however that happens.
class FvDialogLinuxBase : public virtual IFvDialog {
public:
    FvDialogLinuxBase(INativeUiDataHolder* parent, std::string title);
    ~FvDialogLinuxBase() override;
    FvDialogLinuxBase(const FvDialogLinuxBase&) = delete;
    FvDialogLinuxBase& operator=(const FvDialogLinuxBase&) = delete;

    void* getNativeWindow() override;
    bool showModal() override;
    void hide() override;
    void close() override;
    void show() override;

protected:
    // Fills the new dialog: its content and its buttons.
    virtual void onInitDialog(GtkDialog* dialog) = 0;
    // Whether OK may end the dialog. An exception is logged and shown as an error alert, and
    // keeps the dialog open.
    virtual bool onOk() { return true; }
    // Whether the frame's close button and Escape end the dialog.
    virtual bool userMayClose() const { return true; }

private:
    static void onResponse(GtkDialog* dialog, gint response, gpointer self);
    static gboolean onEvent(GtkWidget* window, GdkEvent* event, gpointer self);
    static void onDestroy(GtkWidget* window, gpointer self);
    bool okAllowed();

    INativeUiDataHolder* m_parent; // borrowed; may be null
    std::string m_title;
    GtkWidget* m_window = nullptr;
};

} // namespace ferrovan
