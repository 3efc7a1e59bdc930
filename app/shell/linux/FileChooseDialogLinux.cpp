#include "shell/linux/FileChooseDialogLinux.h"

#include "shell/linux/GtkWindows.h"
#include "shell/linux/LocalItemChooserLinux.h"

namespace ferrovan {

std::unique_ptr<IFileChooseDialog> createFileChooseDialog(INativeUiDataHolder* parent)
{
    return std::make_unique<FileChooseDialogLinux>(parent);
}

FileChooseDialogLinux::FileChooseDialogLinux(INativeUiDataHolder* parent) : FsItemChooseDialogBase(parent) {}

bool FileChooseDialogLinux::run(std::vector<std::string>& urls)
{
    return chooseLocalItems(gtkWindowOf(parent()), title(), GTK_FILE_CHOOSER_ACTION_OPEN, urls);
}

} // namespace ferrovan
