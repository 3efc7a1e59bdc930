#pragma once

#include "shell/OsFileExplorer.h"
#include "shell/UpdaterDialog.h"

#include <gtk/gtk.h>

#include <functional>
#include <map>
#include <string>

namespace ferrovan {

// The updater's GTK message boxes, titled with the product's name. They do not block: the loop keeps
// running while one is open, and boxes still open when this object ends are closed.
class UpdaterDialogLinux : public IUpdaterDialog {
public:
    // Opens a web page; true when it was handed on.
    using Opener = std::function<bool(const std::string& url)>;

    // The default opener takes http and https addresses with a host only and hands them to
    // the desktop's browser.
    explicit UpdaterDialogLinux(Opener opener = &openWebPage);
    ~UpdaterDialogLinux() override;
    UpdaterDialogLinux(const UpdaterDialogLinux&) = delete;
    UpdaterDialogLinux& operator=(const UpdaterDialogLinux&) = delete;

    void offerUpdate(const std::string& text, const std::string& downloadPage) override;
    void showMessage(const std::string& text) override;

private:
    struct OpenBox {
        std::string downloadPage; // empty: nothing to open
        gulong responseHandler = 0;
    };

    void present(GtkWidget* box, const std::string& downloadPage);
    static void onResponse(GtkDialog* box, gint response, gpointer self);

    Opener m_opener;
    std::map<GtkWidget*, OpenBox> m_open;
};

} // namespace ferrovan
