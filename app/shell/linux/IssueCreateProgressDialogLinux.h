#pragma once

#include "shell/IssueCreateProgressDialog.h"
#include "shell/linux/FvDialogLinuxBase.h"

namespace ferrovan {

// A message and a progress bar pulsed every 100 ms; no buttons, and neither the frame nor
// Escape closes it.
class IssueCreateProgressDialogLinux : public FvDialogLinuxBase, public IIssueCreateProgressDialog {
public:
    explicit IssueCreateProgressDialogLinux(INativeUiDataHolder* parent);

protected:
    void onInitDialog(GtkDialog* dialog) override;
    // Closing early would leave the report's result without anyone to show it to.
    bool userMayClose() const override { return false; }

private:
    static gboolean pulse(gpointer bar);
    static void stopPulsing(gpointer source);
};

} // namespace ferrovan
