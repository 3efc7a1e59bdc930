#pragma once

#include "shell/FsItemChooseDialog.h"

namespace ferrovan {

class INativeUiDataHolder;

// What every chooser keeps between creation and run: its parent and its title.
class FsItemChooseDialogBase : public virtual IFsItemChooseDialog {
public:
    explicit FsItemChooseDialogBase(INativeUiDataHolder* parent) : m_parent(parent) {}

    void setTitle(const std::string& title) override { m_title = title; }

protected:
    INativeUiDataHolder* parent() const { return m_parent; }
    const std::string& title() const { return m_title; }

private:
    INativeUiDataHolder* m_parent; // borrowed; may be null
    std::string m_title;
};

} // namespace ferrovan
