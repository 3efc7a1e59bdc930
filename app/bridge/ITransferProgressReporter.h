#pragma once

#include "framework/TransferManagerBase.h"

namespace ferrovan {

// Interface 4 of a query handler: a transfer handler passes each group state it sends to the page
// on to the program-wide progress as well.
class ITransferProgressReporter {
public:
    class IProgressCallback {
    public:
        // Any thread may call.
        virtual void onGroupProgress(const fv_transfers::CTransferManagerBase::GroupState& state) = 0;

    protected:
        ~IProgressCallback() = default;
    };

    // Not owned; null stops the reports.
    virtual void setProgressCallback(IProgressCallback* callback) = 0;

protected:
    ~ITransferProgressReporter() = default;
};

} // namespace ferrovan
