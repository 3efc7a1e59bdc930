#include "support/TransportTest.h"

#include "support/TestEnvironment.h"

#include "core/CurlGlobal.h"
#include "core/FvTransfersGlobalConfig.h"
#include "core/StringConversion.h"

#include <Poco/Base64Encoder.h>

#include <sstream>

namespace fv_test {

void prepareTransportTest()
{
    static TempDir logFolder;
    static bool curlReady = false;
    fv_transfers::CFvTransfersGlobalConfig::getInstance()->setAppFilesPath(fv_transfers::utf8ToWide(logFolder.path()));
    fv_transfers::initializeCurlGlobal(curlReady);
}

std::string base64(const std::string& text)
{
    std::ostringstream out;
    Poco::Base64Encoder encoder(out);
    encoder.rdbuf()->setLineLength(0);
    encoder << text;
    encoder.close();
    return out.str();
}

} // namespace fv_test
