#pragma once

#include "db/ChannelsDbInfo.h"
#include "db/FilesDbInfo.h"
#include "framework/TransferChannelBase.h"
#include "records/TransferRecords.h"
#include "upload/UploadFile.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace fv_transfers {

class CTrasfersAsyncTasksExecutor;
class IUploadFileOwner;

// What an upload file takes from its surroundings; tests replace parts of it.
struct UploadFileEnvironment {
    std::shared_ptr<CTrasfersAsyncTasksExecutor> executor;
    // Null: the tables of the process's database.
    std::shared_ptr<CFilesDbInfo> files;
    std::shared_ptr<CChannelsDbInfo> channels;
    ChannelSeams channelSeams;
    // How long a channel waits for the file's URL refresh.
    std::chrono::milliseconds detailsWait{120000};
};

// Chooses the kind of an upload file: multipart when the file is larger than the group's
// minimum multipart size (0 means the default, 52428800), single-part otherwise.
class CUploadFileFactory {
public:
    // A new file of `owner`, of `fileSize` bytes as measured when queued; its row is stored and
    // its preparation posted. Null when it cannot be made (logged).
    static std::shared_ptr<IUploadFile> create(const UploadFileDesc& desc, IUploadFileOwner* owner,
                                               std::uint64_t minMultipartSize, std::uint64_t fileSize,
                                               const UploadFileEnvironment& environment);
    // A file rebuilt from its stored row and channel rows (the start-up snapshot's). A plan that
    // no longer fits the file on disk, or is not whole, is started again from scratch when the
    // file is prepared.
    static std::shared_ptr<IUploadFile> createFromDb(const CFilesDbInfo::FileInfo& row,
                                                     const std::vector<CChannelsDbInfo::ChannelInfo>& channels,
                                                     IUploadFileOwner* owner, std::uint64_t minMultipartSize,
                                                     const UploadFileEnvironment& environment);
};

} // namespace fv_transfers
