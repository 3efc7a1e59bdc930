#include "shell/linux/LocalItemChooserLinux.h"

#include "shell/FerrovanLogger.h"
#include "shell/FileUrl.h"

#include <memory>
#include <utility>

namespace ferrovan {

namespace {

struct ChooserEnd {
    void operator()(GtkFileChooserNative* chooser) const { g_object_unref(chooser); }
};

struct FilenamesEnd {
    void operator()(GSList* names) const { g_slist_free_full(names, g_free); }
};

// All or nothing: the page cannot act on part of what the user picked without telling them.
bool appendUrls(GSList* filenames, std::vector<std::string>& urls)
{
    std::vector<std::string> chosen;
    for (GSList* item = filenames; item != nullptr; item = item->next) {
        const char* path = static_cast<const char*>(item->data);
        std::string url;
        if (!pathToFileUrl(path, url)) {
            logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_ERROR,
                    "ferrovan::chooseLocalItems: a chosen path is not a local UTF-8 path");
            return false;
        }
        chosen.push_back(std::move(url));
    }
    if (chosen.empty())
        return false;
    urls.insert(urls.end(), chosen.begin(), chosen.end());
    return true;
}

} // namespace

bool chooseLocalItems(GtkWindow* parent, const std::string& title, GtkFileChooserAction action,
                      std::vector<std::string>& urls)
{
    // Without a portal (GTK_USE_PORTAL unset, no sandbox) GTK runs its own dialog in-process.
    std::unique_ptr<GtkFileChooserNative, ChooserEnd> native(
        gtk_file_chooser_native_new(title.c_str(), parent, action, nullptr, nullptr));
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(native.get());
    // URLs of remote locations would reach the page as "file:" URLs they are not.
    gtk_file_chooser_set_local_only(chooser, TRUE);
    gtk_file_chooser_set_select_multiple(chooser, action == GTK_FILE_CHOOSER_ACTION_OPEN ? TRUE : FALSE);
    // Modal, so the page cannot open a second chooser over this one.
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(native.get()), TRUE);
    if (gtk_native_dialog_run(GTK_NATIVE_DIALOG(native.get())) != GTK_RESPONSE_ACCEPT)
        return false;
    const std::unique_ptr<GSList, FilenamesEnd> filenames(gtk_file_chooser_get_filenames(chooser));
    return appendUrls(filenames.get(), urls);
}

} // namespace ferrovan
