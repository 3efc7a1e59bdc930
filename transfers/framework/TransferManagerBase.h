#pragma once

#include "core/base/FvTransfersExport.h"

#include <cstdint>
#include <string>

namespace fv_transfers {

// Common base of the exported upload and download managers. Its records cross the library
// boundary: their field order, widths and defaults are part of the interface.
class FV_TRANSFERS_API CTransferManagerBase {
public:
    struct FV_TRANSFERS_API Configuration {
        Configuration();

        std::uint32_t maxConcurrentTransfers;
        std::uint64_t minMultipartSize;
        std::uint32_t maxTransferRetries;
        bool verify;
        bool preventSleep;
        std::uint64_t throttleBytesPerSecond; // 0: unlimited
        std::int64_t reserved;
        std::string restEndpoint;
        std::uint32_t connectionTimeoutMs;
        std::uint32_t sendTimeoutMs;
        std::uint32_t receiveTimeoutMs;
    };

    enum GroupStateCode : std::int32_t {
        GROUP_TRANSFERRING = 1,
        GROUP_ERRORED = 2,
        GROUP_COMPLETED = 3,
        GROUP_PAUSED = 4,
    };

    struct FV_TRANSFERS_API GroupState {
        GroupState();

        std::int32_t state;
        std::int32_t errorCode;
        std::string bucketType;
        std::int32_t id;
        std::string bucketId;
        std::uint64_t bytesTransferred;
        std::uint64_t bytesTotal;
        std::uint64_t bytesTransferredPerSecond;
        float percentTransferred;
        std::uint64_t estimatedEta; // ms since 1970-01-01
        std::int64_t creationTimeMs;
        bool empty;
        bool paused;
        bool cancelled;
        std::uint32_t retryCounter;
        std::int32_t filesCompleted;
    };

    enum FileStateCode : std::int32_t {
        FILE_TRANSFERRING = 0,
        FILE_COMPLETED = 1,
        FILE_ERRORED = 2,
        FILE_PAUSED = 3,
        // Queued in its group, not started yet. The state texts predate it: it reads "UNKNWON".
        FILE_PENDING = 4,
    };

    struct FileState {
        std::int32_t id = 0; // the group's id
        std::string bucketId;
        std::string fileId;
        std::int32_t state = FILE_TRANSFERRING;
        std::int32_t errorCode = 0;
        std::uint64_t bytesTransferred = 0;
        std::uint64_t bytesTotal = 0;
        std::uint64_t bytesTransferredPerSecond = 0;
        float percentTransferred = 0;
        std::uint64_t estimatedEta = 0; // ms since 1970-01-01
    };

    // The words shown for each code; anything else reads "UNKNWON".
    static const char* groupStateText(std::int32_t state);
    static const char* fileStateText(std::int32_t state);

    virtual void startup() = 0;
    virtual void shutdown() = 0;
    virtual ~CTransferManagerBase();
};

} // namespace fv_transfers
