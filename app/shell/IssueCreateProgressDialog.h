#pragma once

#include "shell/FvDialog.h"

#include <memory>

namespace ferrovan {

// "Submitting app logs...": shown while a report is sent. The user cannot close it; whoever
// sends the report ends it with close() once the result is in.
class IIssueCreateProgressDialog : public virtual IFvDialog {};

std::unique_ptr<IIssueCreateProgressDialog> createIssueCreateProgressDialog(INativeUiDataHolder* parent);

} // namespace ferrovan
