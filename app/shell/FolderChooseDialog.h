#pragma once

#include "shell/FsItemChooseDialog.h"

#include <memory>

namespace ferrovan {

class INativeUiDataHolder;

// Picks one local folder.
class IFolderChooseDialog : public virtual IFsItemChooseDialog {
public:
    ~IFolderChooseDialog() override = default;
};

// Modal for `parent`'s window (none when null); the parent must outlive the chooser object.
std::unique_ptr<IFolderChooseDialog> createFolderChooseDialog(INativeUiDataHolder* parent = nullptr);

} // namespace ferrovan
