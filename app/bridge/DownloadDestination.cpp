#include "bridge/DownloadDestination.h"

#include "bridge/BridgeLog.h"
#include "bridge/LocalPath.h"
#include "shell/AlertDialog.h"
#include "shell/ExceptionText.h"
#include "shell/FilePermissionsRetriever.h"
#include "shell/FileUrl.h"
#include "shell/FolderChooseDialog.h"
#include "shell/LogText.h"
#include "shell/OsFileExplorer.h"
#include "shell/StringConversion.h"

#include "core/files/OsSafeFilenames.h"

#include <Poco/File.h>

#include <filesystem>
#include <system_error>
#include <vector>

namespace ferrovan {

namespace {

constexpr const char* kAutoDownloadFolderName = "Ferrovan";

bool isFolder(const std::string& path)
{
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

// The folder itself when it exists, else its nearest existing parent; empty when a level cannot
// be examined.
std::string nearestExisting(const std::string& folder)
{
    std::filesystem::path probe(folder);
    for (;;) {
        std::error_code error;
        const bool exists = std::filesystem::exists(probe, error);
        if (error)
            return {};
        if (exists)
            return probe.string();
        if (!probe.has_relative_path())
            return {};
        probe = probe.has_filename() ? probe.parent_path() : probe.parent_path().parent_path();
    }
}

} // namespace

DownloadDesktop DownloadDesktop::system()
{
    DownloadDesktop desktop;
    desktop.userDownloadsDirectory = getUserDownloadsDirectory;
    desktop.createFolderChooser = [](INativeUiDataHolder* parent) { return createFolderChooseDialog(parent); };
    desktop.createAlert = createAlertDialog;
    desktop.createPermissionsRetriever = createFilePermissionsRetriever;
    desktop.createFileExplorer = createOsFileExplorer;
    return desktop;
}

DownloadDestination::DownloadDestination(DownloadDesktop desktop, INativeUiDataHolder* parent)
    : m_desktop(std::move(desktop)), m_parent(parent)
{
}

bool DownloadDestination::groupDownloadPath(const Json::Value& parameters, const DownloadOptions& options,
                                            std::string& folder, bool& autoDownload)
{
    const std::string summary = parameters.get("summary", "").asString();
    const Json::Value requested = parameters.get("autoDownload", Json::Value());
    std::string chosen;
    // A request's false does not switch the option off.
    if ((requested.isBool() && requested.asBool()) || options.autoDownload) {
        if (existingAutoDownloadDirectory(options.autoDownloadPath, chosen)) {
            logBridgeInformation("QueryHandlerDownloadManager: auto download directory: " + printableForLog(chosen));
            autoDownload = true;
            folder = createDestination(chosen, summary);
            return true;
        }
        logBridgeError(
            "QueryHandlerDownloadManager: auto download flag is set, but failed to generate auto download dir!");
    }
    const Json::Value path = parameters.get("downloadPath", Json::Value());
    if (path.isString() && !path.asString().empty()) {
        const std::string given = path.asString();
        if (acceptsPageFolder(given)) {
            chosen = given;
            logBridgeInformation("Obtain group download path: " + printableForLog(chosen));
        } else {
            logBridgeError("QueryHandlerDownloadManager: download path refused, the user chooses: " +
                           printableForLog(given));
        }
    }
    if (chosen.empty() && !askUserForDownloadDirectory(chosen)) {
        logBridgeError("QueryHandlerDownloadManager: user has not selected a directory for download!");
        return false;
    }
    autoDownload = false;
    folder = createDestination(chosen, summary);
    return true;
}

bool DownloadDestination::existingAutoDownloadDirectory(const std::string& autoDownloadPath, std::string& folder)
{
    std::string candidate = autoDownloadPath;
    if (candidate.empty() && !defaultAutoDownloadDirectory(candidate))
        return false;
    try {
        Poco::File(candidate).createDirectories();
    } catch (const std::exception& e) {
        logBridgeError("ferrovan::CQueryHandlerDownloadManager::getExistingAutoDownloadDirectory: Exception: " +
                       exceptionText(e));
    }
    if (!isFolder(candidate))
        return false;
    folder = candidate;
    return true;
}

bool DownloadDestination::defaultAutoDownloadDirectory(std::string& folder)
{
    const std::string downloads = m_desktop.userDownloadsDirectory ? m_desktop.userDownloadsDirectory() : "";
    if (downloads.empty() || downloads[0] != '/' || !isFolder(downloads))
        return false;
    folder = downloads + (downloads.back() == '/' ? "" : "/") + kAutoDownloadFolderName;
    return true;
}

bool DownloadDestination::askUserForDownloadDirectory(std::string& folder)
{
    const std::unique_ptr<IFolderChooseDialog> chooser =
        m_desktop.createFolderChooser ? m_desktop.createFolderChooser(m_parent) : nullptr;
    if (!chooser)
        return false;
    chooser->setTitle("Choose a folder");
    const std::unique_ptr<IFilePermissionsRetriever> permissions =
        m_desktop.createPermissionsRetriever ? m_desktop.createPermissionsRetriever() : nullptr;
    if (!permissions)
        return false;
    for (;;) {
        std::vector<std::string> urls;
        if (!chooser->run(urls) || urls.empty())
            return false;
        std::string path;
        const bool local = fileUrlToPath(urls.front(), path);
        if (local && isWritableFolder(path, *permissions)) {
            folder = path;
            return true;
        }
        if (const std::unique_ptr<IAlertDialog> alert = m_desktop.createAlert ? m_desktop.createAlert() : nullptr)
            alert->show("Ferrovan does not have permissions to write to folder " + (local ? path : urls.front()) +
                            ". Please select another folder.",
                        0, m_parent);
    }
}

bool DownloadDestination::acceptsPageFolder(const std::string& folder)
{
    if (normalisedAbsolutePath(folder).empty() || !isValidUtf8(folder))
        return false;
    const std::string existing = nearestExisting(folder);
    const std::unique_ptr<IFilePermissionsRetriever> permissions =
        m_desktop.createPermissionsRetriever ? m_desktop.createPermissionsRetriever() : nullptr;
    return !existing.empty() && permissions && isWritableFolder(existing, *permissions);
}

bool DownloadDestination::isWritableFolder(const std::string& path, IFilePermissionsRetriever& permissions) const
{
    return isFolder(path) && (permissions.getPermissions(path) & IFilePermissionsRetriever::kWritable) != 0;
}

std::string DownloadDestination::createDestination(const std::string& folder, const std::string& summary)
{
    std::string name = summary;
    fv_transfers::os_safe_filenames::replaceUnsafeChars(name);
    std::string destination = folder;
    if (destination.empty() || destination.back() != '/')
        destination += '/';
    destination += name;
    Poco::File(destination).createDirectories();
    return destination;
}

} // namespace ferrovan
