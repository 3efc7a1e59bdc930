#include "support/LogCapture.h"

#include "core/FvTransfersGlobalConfig.h"
#include "core/FvTransfersLogger.h"
#include "core/StringConversion.h"

#include <sstream>

namespace fv_test {

LogCapture::LogCapture()
{
    fv_transfers::CFvTransfersGlobalConfig::getInstance()->setAppFilesPath(fv_transfers::utf8ToWide(m_dir.path()));
    fv_transfers::CFvTransfersLogger::destroyInstance();
}

LogCapture::~LogCapture()
{
    fv_transfers::CFvTransfersLogger::destroyInstance();
    fv_transfers::CFvTransfersGlobalConfig::getInstance()->setAppFilesPath(std::wstring());
}

std::string LogCapture::text() const
{
    return readFile(fv_transfers::getLogFilePath());
}

int LogCapture::count(const std::string& piece) const
{
    std::istringstream lines(text());
    std::string line;
    int found = 0;
    while (std::getline(lines, line))
        found += line.find(piece) != std::string::npos ? 1 : 0;
    return found;
}

} // namespace fv_test
