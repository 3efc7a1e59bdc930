#include "upload/UploadManager.h"

namespace fv_transfers {

CUploadManager::Configuration::Configuration() : serverTransferProgressInterval(300000) {}

CUploadManager::GroupState::GroupState() : marked(false) {}

std::uint32_t CUploadManager::progressIntervalSeconds(std::uint32_t intervalMs)
{
    const std::uint32_t seconds = intervalMs / 1000;
    return seconds == 0 ? 300 : seconds;
}

} // namespace fv_transfers
