#pragma once

#include "bridge/DownloadDestination.h"
#include "shell/AlertDialog.h"
#include "shell/FilePermissionsRetriever.h"
#include "shell/FolderChooseDialog.h"
#include "shell/OsFileExplorer.h"

#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace fv_test {

// The person and the file manager at the download bridge's edge: the chooser answers what the
// test scripted (nothing left: cancel), alerts and shown folders are recorded. The permissions
// are the system's own, except that the folders in `readOnly` answer as a folder the user may
// not write to does (the tests may run as root, who may write anywhere).
struct FakeDownloadDesktop {
    std::string downloadsDirectory;                 // what the desktop names
    std::deque<std::optional<std::string>> choices; // a URL, or a cancel
    std::vector<std::string> chooserTitles;         // one per chooser run
    std::vector<std::string> alerts;
    std::vector<std::string> shownFolders;
    std::set<std::string> readOnly;

    ferrovan::DownloadDesktop desktop()
    {
        ferrovan::DownloadDesktop result;
        result.userDownloadsDirectory = [this] { return downloadsDirectory; };
        result.createFolderChooser = [this](ferrovan::INativeUiDataHolder*) {
            return std::unique_ptr<ferrovan::IFolderChooseDialog>(new Chooser(*this));
        };
        result.createAlert = [this] { return std::unique_ptr<ferrovan::IAlertDialog>(new Alert(*this)); };
        result.createPermissionsRetriever = [this] {
            return std::unique_ptr<ferrovan::IFilePermissionsRetriever>(new Permissions(*this));
        };
        result.createFileExplorer = [this] { return std::unique_ptr<ferrovan::IOsFileExplorer>(new Explorer(*this)); };
        return result;
    }

private:
    class Chooser : public ferrovan::IFolderChooseDialog {
    public:
        explicit Chooser(FakeDownloadDesktop& desktop) : m_desktop(desktop) {}
        void setTitle(const std::string& title) override { m_title = title; }
        bool run(std::vector<std::string>& urls) override
        {
            m_desktop.chooserTitles.push_back(m_title);
            if (m_desktop.choices.empty())
                return false;
            const std::optional<std::string> choice = m_desktop.choices.front();
            m_desktop.choices.pop_front();
            if (!choice)
                return false;
            urls.push_back(*choice);
            return true;
        }

    private:
        FakeDownloadDesktop& m_desktop;
        std::string m_title;
    };

    class Permissions : public ferrovan::IFilePermissionsRetriever {
    public:
        explicit Permissions(FakeDownloadDesktop& desktop) : m_desktop(desktop) {}
        int getPermissions(const std::string& path) override
        {
            const int granted = m_system->getPermissions(path);
            return m_desktop.readOnly.count(path) ? granted & ~kWritable : granted;
        }

    private:
        FakeDownloadDesktop& m_desktop;
        const std::unique_ptr<ferrovan::IFilePermissionsRetriever> m_system =
            ferrovan::createFilePermissionsRetriever();
    };

    class Alert : public ferrovan::IAlertDialog {
    public:
        explicit Alert(FakeDownloadDesktop& desktop) : m_desktop(desktop) {}
        void show(const std::string& text, int, ferrovan::INativeUiDataHolder*) override
        {
            m_desktop.alerts.push_back(text);
        }

    private:
        FakeDownloadDesktop& m_desktop;
    };

    class Explorer : public ferrovan::IOsFileExplorer {
    public:
        explicit Explorer(FakeDownloadDesktop& desktop) : m_desktop(desktop) {}
        bool showInFolder(const std::string& path) override
        {
            m_desktop.shownFolders.push_back(path);
            return true;
        }
        bool open(const std::string&) override { return false; }

    private:
        FakeDownloadDesktop& m_desktop;
    };
};

} // namespace fv_test
