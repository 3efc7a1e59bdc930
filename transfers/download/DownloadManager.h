#pragma once

#include "core/base/FvTransfersExport.h"
#include "framework/TransferManagerBase.h"
#include "records/TransferRecords.h"

namespace fv_transfers {

// The exported download manager. Its records are what the main program fills and receives.
class FV_TRANSFERS_API CDownloadManager : public CTransferManagerBase {
public:
    using DownloadDetails = fv_transfers::DownloadDetails;
    using FileDownloadDetails = fv_transfers::FileDownloadDetails;
};

} // namespace fv_transfers
