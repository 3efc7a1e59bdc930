#pragma once

#include "core/base/FvTransfersExport.h"
#include "framework/TransferManagerBase.h"
#include "records/TransferRecords.h"

#include <map>
#include <memory>
#include <string>

namespace fv_transfers {

// The exported download manager. Its records are what the main program fills and receives.
class FV_TRANSFERS_API CDownloadManager : public CTransferManagerBase {
public:
    using DownloadDetails = fv_transfers::DownloadDetails;
    using FileDownloadDetails = fv_transfers::FileDownloadDetails;
    using GroupInfoMap = std::map<std::string, std::string>;

    struct FV_TRANSFERS_API GroupState : public CTransferManagerBase::GroupState {
        GroupState();

        std::wstring downloadPath; // the destination folder as a local path
        // The map given at creation, shared, never copied; rebuilt from the stored entries after
        // a restart. Empty when the group has none.
        std::shared_ptr<GroupInfoMap> groupInfo;
    };

    // Implemented by the caller. Called on the library's threads: copy what is needed, return
    // quickly, never call back into the manager from inside.
    class ICallback {
    public:
        virtual void onGroupStateChanged(const GroupState& state) = 0;
        virtual void onFileStateChanged(const CTransferManagerBase::FileState& state) = 0;

    protected:
        ~ICallback() = default;
    };
};

} // namespace fv_transfers
