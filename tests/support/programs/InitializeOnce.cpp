// Starts and ends the library once and exits normally, so that a memory checker sees what the
// exit handlers of the system libraries read after the library's statics are gone.
#include "FvTransfersInitializer.h"
#include "core/base/StringConversion.h"
#include "core/config/FvTransfersGlobalConfig.h"

int main(int argc, char** argv)
{
    if (argc > 1)
        fv_transfers::CFvTransfersGlobalConfig::getInstance()->setAppFilesPath(fv_transfers::utf8ToWide(argv[1]));
    if (!fv_transfers::CFvTransfersInitializer::initialize())
        return 2;
    fv_transfers::CFvTransfersInitializer::unitialize();
    return 0;
}
