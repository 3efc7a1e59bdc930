#pragma once

#include "shell/ReportIssueDialog.h"
#include "shell/linux/FvDialogLinuxBase.h"

#include <string>

namespace ferrovan {

// Three single-line fields and a multi-line description, Submit and Cancel.
class ReportIssueDialogLinux : public FvDialogLinuxBase, public IReportIssueDialog {
public:
    ReportIssueDialogLinux(ICallback* callback, INativeUiDataHolder* parent);

protected:
    void onInitDialog(GtkDialog* dialog) override;
    bool onOk() override;

private:
    static void onFieldChanged(gpointer self);
    std::string description() const;
    bool complete() const;

    ICallback* m_callback; // borrowed; may be null
    GtkWidget* m_userName = nullptr;
    GtkWidget* m_email = nullptr;
    GtkWidget* m_summary = nullptr;
    GtkTextBuffer* m_description = nullptr;
};

} // namespace ferrovan
