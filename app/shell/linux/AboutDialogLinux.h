#pragma once

#include "shell/AboutDialog.h"
#include "shell/linux/FvDialogLinuxBase.h"

#include <string>

namespace ferrovan {

// The program's icon and name, the version line and the licence in a read-only text view.
class AboutDialogLinux : public FvDialogLinuxBase, public IAboutDialog {
public:
    AboutDialogLinux(INativeUiDataHolder* parent, std::string resourcesFolder, std::string version);

protected:
    void onInitDialog(GtkDialog* dialog) override;

private:
    std::string readLicence() const;

    std::string m_resourcesFolder;
    std::string m_version;
};

} // namespace ferrovan
