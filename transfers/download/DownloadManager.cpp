#include "download/DownloadManager.h"

namespace fv_transfers {

CDownloadManager::GroupState::GroupState() = default;

} // namespace fv_transfers
