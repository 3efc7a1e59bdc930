#pragma once

#include "shell/FileChooseDialog.h"
#include "shell/FsItemChooseDialogBase.h"

namespace ferrovan {

// Several existing local files at once.
class FileChooseDialogLinux : public IFileChooseDialog, public FsItemChooseDialogBase {
public:
    explicit FileChooseDialogLinux(INativeUiDataHolder* parent);

    bool run(std::vector<std::string>& urls) override;
};

} // namespace ferrovan
