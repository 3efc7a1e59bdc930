#include "shell/linux/FolderChooseDialogLinux.h"

#include "shell/linux/GtkWindows.h"
#include "shell/linux/LocalItemChooserLinux.h"

namespace ferrovan {

std::unique_ptr<IFolderChooseDialog> createFolderChooseDialog(INativeUiDataHolder* parent)
{
    return std::make_unique<FolderChooseDialogLinux>(parent);
}

FolderChooseDialogLinux::FolderChooseDialogLinux(INativeUiDataHolder* parent) : FsItemChooseDialogBase(parent) {}

bool FolderChooseDialogLinux::run(std::vector<std::string>& urls)
{
    return chooseLocalItems(gtkWindowOf(parent()), title(), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, urls);
}

} // namespace ferrovan
