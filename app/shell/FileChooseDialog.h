#pragma once

#include "shell/FsItemChooseDialog.h"

#include <memory>

namespace ferrovan {

class INativeUiDataHolder;

// Picks one or more existing files.
class IFileChooseDialog : public virtual IFsItemChooseDialog {
public:
    ~IFileChooseDialog() override = default;
};

// Modal for `parent`'s window (none when null); the parent must outlive the chooser object.
std::unique_ptr<IFileChooseDialog> createFileChooseDialog(INativeUiDataHolder* parent = nullptr);

} // namespace ferrovan
