#include "upload/UploadFileFactory.h"

namespace fv_transfers {

// Stands in until the upload files exist.
std::shared_ptr<IUploadFile> CUploadFileFactory::create(const UploadFileDesc&, IUploadFileOwner*, std::uint64_t,
                                                        std::uint64_t, const UploadFileEnvironment&)
{
    return nullptr;
}

std::shared_ptr<IUploadFile> CUploadFileFactory::createFromDb(const CFilesDbInfo::FileInfo&,
                                                              const std::vector<CChannelsDbInfo::ChannelInfo>&,
                                                              IUploadFileOwner*, std::uint64_t,
                                                              const UploadFileEnvironment&)
{
    return nullptr;
}

} // namespace fv_transfers
