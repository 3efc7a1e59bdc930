#include "upload/UploadFileFactory.h"

#include "core/log/FvTransfersLogger.h"
#include "upload/UploadFileMultiPart.h"
#include "upload/UploadFileSinglePart.h"
#include "upload/UploadPlan.h"

#include <exception>

namespace fv_transfers {

namespace {

std::shared_ptr<CUploadFileBase> makeFile(bool multipart, std::uint64_t minMultipartSize,
                                          const UploadFileEnvironment& environment)
{
    if (multipart)
        return std::make_shared<CUploadFileMultiPart>(minMultipartSize, environment);
    return std::make_shared<CUploadFileSinglePart>(minMultipartSize, environment);
}

} // namespace

std::shared_ptr<IUploadFile> CUploadFileFactory::create(const UploadFileDesc& desc, IUploadFileOwner* owner,
                                                        std::uint64_t minMultipartSize, std::uint64_t fileSize,
                                                        const UploadFileEnvironment& environment)
{
    try {
        std::shared_ptr<CUploadFileBase> file =
            makeFile(isMultipartUpload(fileSize, minMultipartSize), minMultipartSize, environment);
        file->initializeNew(desc, owner, fileSize);
        return file;
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Unable to create the upload of a file with id " << desc.fileUid << ": " << e.what());
        return nullptr;
    }
}

std::shared_ptr<IUploadFile> CUploadFileFactory::createFromDb(const CFilesDbInfo::FileInfo& row,
                                                              const std::vector<CChannelsDbInfo::ChannelInfo>& channels,
                                                              IUploadFileOwner* owner, std::uint64_t minMultipartSize,
                                                              const UploadFileEnvironment& environment)
{
    try {
        // The stored plan decides the kind: a file of several parts, or one with an upload id, was
        // a multipart upload; a row without channels is sized anew.
        std::uint64_t size = 0;
        for (const auto& channel : channels)
            size += channel.BytesToUpload;
        if (row.FileSize != CFilesDbInfo::kUnknownFileSize)
            size = static_cast<std::uint64_t>(row.FileSize);
        const bool multipart = channels.size() >= 2 || !row.UploadId.empty() ||
                               (channels.empty() && isMultipartUpload(size, minMultipartSize));
        std::shared_ptr<CUploadFileBase> file = makeFile(multipart, minMultipartSize, environment);
        file->initializeRestored(row, channels, owner);
        return file;
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Unable to restore the upload of a file with id " << row.FileUid << ": " << e.what());
        return nullptr;
    }
}

} // namespace fv_transfers
