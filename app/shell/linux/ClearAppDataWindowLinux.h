#pragma once

#include "shell/ClearAppDataWindow.h"
#include "shell/linux/FvDialogLinuxBase.h"

#include <array>

namespace ferrovan {

// Four check boxes, one per kind of data, and OK/Cancel.
class ClearAppDataWindowLinux : public FvDialogLinuxBase, public IClearAppDataWindow {
public:
    ClearAppDataWindowLinux(ICallback* callback, INativeUiDataHolder* parent);

protected:
    void onInitDialog(GtkDialog* dialog) override;
    bool onOk() override;

private:
    int checkedBits() const;

    ICallback* m_callback; // borrowed; may be null
    std::array<GtkWidget*, 4> m_boxes{};
};

} // namespace ferrovan
