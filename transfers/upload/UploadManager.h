#pragma once

#include "core/base/FvTransfersExport.h"
#include "framework/TransferManagerBase.h"
#include "records/TransferRecords.h"

#include <cstdint>

namespace fv_transfers {

// The exported upload manager. Its records and callback are what the main program fills,
// receives and implements.
class FV_TRANSFERS_API CUploadManager : public CTransferManagerBase {
public:
    struct FV_TRANSFERS_API Configuration : public CTransferManagerBase::Configuration {
        Configuration();

        // Least time between two progress reports of one file to the service.
        std::uint32_t serverTransferProgressInterval; // ms
    };

    struct FV_TRANSFERS_API GroupState : public CTransferManagerBase::GroupState {
        GroupState();

        bool marked; // no more files will be added; only a marked group can complete
    };

    using FileDesc = UploadFileDesc;

    // Called on library threads and, synchronously, inside some manager calls with the
    // manager's locks held: copy the record, hand it to a thread of your own, return, and
    // never call back into the manager from here. The library never deletes it.
    class ICallback {
    public:
        virtual void onGroupStateChanged(const GroupState& state) = 0;
        virtual void onFileStateChanged(const CTransferManagerBase::FileState& state) = 0;

    protected:
        ~ICallback() = default;
    };

    // The interval the file progress sender works with: whole seconds, 300 below one second.
    static std::uint32_t progressIntervalSeconds(std::uint32_t intervalMs);
};

} // namespace fv_transfers
