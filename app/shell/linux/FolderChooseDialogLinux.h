#pragma once

#include "shell/FolderChooseDialog.h"
#include "shell/FsItemChooseDialogBase.h"

namespace ferrovan {

// One local folder.
class FolderChooseDialogLinux : public IFolderChooseDialog, public FsItemChooseDialogBase {
public:
    explicit FolderChooseDialogLinux(INativeUiDataHolder* parent);

    bool run(std::vector<std::string>& urls) override;
};

} // namespace ferrovan
