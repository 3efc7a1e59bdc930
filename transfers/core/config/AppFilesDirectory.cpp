#include "core/config/AppFilesDirectory.h"

#include "core/base/PrivateDirectory.h"
#include "core/base/StringConversion.h"
#include "core/config/FvTransfersGlobalConfig.h"

namespace fv_transfers {

std::string getAppFilesDirectory()
{
    const std::string folder = wideToUtf8(CFvTransfersGlobalConfig::getInstance()->getAppFilesPath());
    createPrivateDirectory(folder);
    return folder;
}

} // namespace fv_transfers
