#pragma once

#include <json/value.h>

#include <functional>
#include <memory>
#include <string>

namespace ferrovan {

class IAlertDialog;
class IFilePermissionsRetriever;
class IFolderChooseDialog;
class INativeUiDataHolder;
class IOsFileExplorer;

// The desktop as the download bridge reaches it. The program uses system(); tests put their own
// parts in place of what needs a person or a file manager.
struct DownloadDesktop {
    // The user's download folder; empty when the desktop names none.
    std::function<std::string()> userDownloadsDirectory;
    std::function<std::unique_ptr<IFolderChooseDialog>(INativeUiDataHolder* parent)> createFolderChooser;
    std::function<std::unique_ptr<IAlertDialog>()> createAlert;
    std::function<std::unique_ptr<IFilePermissionsRetriever>()> createPermissionsRetriever;
    std::function<std::unique_ptr<IOsFileExplorer>()> createFileExplorer;

    static DownloadDesktop system();
};

// The XDG download folder (g_get_user_special_dir); empty when there is none.
std::string getUserDownloadsDirectory();

// The download bridge's options, kept in memory for the run.
struct DownloadOptions {
    bool autoDownload = false;         // new groups go to the automatic folder
    bool autoOpenAfterDownload = true; // a finished automatic group's folder is shown
    std::string autoDownloadPath;      // empty: the default automatic folder
};

// Where a new download group writes its files, settled on the UI thread inside "createGroup":
// the automatic folder when the page or the option asks for it, else the page's "downloadPath"
// when it passes the checks of acceptsPageFolder, else a folder the user picks; then one level
// more named after the page's "summary".
class DownloadDestination {
public:
    // `parent` (not owned, may be null) is the window the chooser and its alerts are modal for.
    DownloadDestination(DownloadDesktop desktop, INativeUiDataHolder* parent);

    void setParent(INativeUiDataHolder* parent) { m_parent = parent; }

    // The group's folder, created, and whether it is an automatic-download group. False when no
    // folder was settled; a folder that cannot be created throws Poco's file exception.
    bool groupDownloadPath(const Json::Value& parameters, const DownloadOptions& options, std::string& folder,
                           bool& autoDownload);
    // The option's folder or else the default one, created when missing.
    bool existingAutoDownloadDirectory(const std::string& autoDownloadPath, std::string& folder);
    // The desktop's download folder + "/Ferrovan" (which need not exist); false when the desktop
    // names no download folder or it does not exist.
    bool defaultAutoDownloadDirectory(std::string& folder);
    // The chooser, asked again after each folder the user cannot write to; false on cancel.
    bool askUserForDownloadDirectory(std::string& folder);

    // A folder the page named may be written to: absolute, without "." or ".." segments, and
    // the folder itself or, when it does not exist yet, its nearest existing parent a folder
    // the user can write to. Page script must not steer files into places the user never chose.
    bool acceptsPageFolder(const std::string& folder);

private:
    bool isWritableFolder(const std::string& path, IFilePermissionsRetriever& permissions) const;
    // folder + the cleaned summary as one more level, created.
    static std::string createDestination(const std::string& folder, const std::string& summary);

    DownloadDesktop m_desktop;
    INativeUiDataHolder* m_parent; // not owned
};

} // namespace ferrovan
