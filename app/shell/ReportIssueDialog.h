#pragma once

#include "shell/FvDialog.h"

#include <memory>
#include <string>

namespace ferrovan {

// "Submit app logs": the user describes the problem; Submit is offered once all four fields
// hold text.
class IReportIssueDialog : public virtual IFvDialog {
public:
    class ICallback {
    public:
        virtual ~ICallback() = default;
        // Called on Submit, while the dialog is still shown; it closes once this returns.
        virtual void onReportSubmitted(const std::string& userName, const std::string& email,
                                       const std::string& summary, const std::string& description) = 0;
    };
};

// `callback` and `parent` are borrowed and may be null.
std::unique_ptr<IReportIssueDialog> createReportIssueDialog(IReportIssueDialog::ICallback* callback,
                                                            INativeUiDataHolder* parent);

} // namespace ferrovan
