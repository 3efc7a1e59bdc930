#include "support/programs/LibraryHost.h"

#include "FvTransfersInitializer.h"
#include "core/config/FvTransfersGlobalConfig.h"

#include <cwchar>
#include <stdexcept>

namespace fv_test {

LibraryHost::LibraryHost(const HostOptions& options)
{
    fv_transfers::CFvTransfersGlobalConfig& config = *fv_transfers::CFvTransfersGlobalConfig::getInstance();
    config.setAppFilesPath(toWide(options.appFolder));
    config.setRestEndPointUrl(options.restUrl);
    if (!options.caFile.empty())
        config.setCaCertificatesFile(options.caFile);
    if (!fv_transfers::CFvTransfersInitializer::initialize())
        throw std::runtime_error("the library did not start");
    if (options.trace)
        config.setVerboseLogging(true);
}

LibraryHost::~LibraryHost()
{
    fv_transfers::CFvTransfersInitializer::unitialize();
}

std::wstring toWide(const std::string& text)
{
    std::mbstate_t state{};
    const char* source = text.c_str();
    const size_t length = std::mbsrtowcs(nullptr, &source, 0, &state);
    if (length == static_cast<size_t>(-1))
        return std::wstring(text.begin(), text.end());
    std::wstring wide(length, L'\0');
    source = text.c_str();
    std::mbsrtowcs(wide.data(), &source, length, &state);
    return wide;
}

std::string toUtf8(const std::wstring& text)
{
    std::mbstate_t state{};
    const wchar_t* source = text.c_str();
    const size_t length = std::wcsrtombs(nullptr, &source, 0, &state);
    if (length == static_cast<size_t>(-1))
        return std::string();
    std::string narrow(length, '\0');
    source = text.c_str();
    std::wcsrtombs(narrow.data(), &source, length, &state);
    return narrow;
}

} // namespace fv_test
