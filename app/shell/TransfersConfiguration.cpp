#include "shell/TransfersConfiguration.h"

#include "shell/AppEnvironment.h"
#include "shell/StringConversion.h"

#include "core/config/FvTransfersGlobalConfig.h"

#include <string>

namespace ferrovan {

void configureTransfers(const AppEnvironment& environment)
{
    fv_transfers::CFvTransfersGlobalConfig* config = fv_transfers::CFvTransfersGlobalConfig::getInstance();
    if (config == nullptr)
        return;
    config->setRestEndPointUrl(environment.getRestEndpointUrl());
    config->setUserAgent(environment.getUserAgent());
    std::wstring appFilesPath;
    utf8ToWide(environment.getAppDataDirectory(), appFilesPath);
    config->setAppFilesPath(appFilesPath);
}

} // namespace ferrovan
