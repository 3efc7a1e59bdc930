#include "core/files/ZipArchive.h"

#include "core/base/ExceptionText.h"
#include "core/log/FvTransfersLogger.h"

#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/Path.h>
#include <Poco/String.h>
#include <Poco/Zip/Compress.h>

#include <exception>
#include <set>

namespace fv_transfers {

namespace {

// "name.log", then "name (2).log", "name (3).log"... whichever is still free.
std::string uniqueEntryName(const Poco::Path& file, std::set<std::string>& taken)
{
    std::string name = file.getFileName();
    const std::string base = file.getBaseName();
    const std::string extension = file.getExtension().empty() ? "" : "." + file.getExtension();
    for (int n = 2; !taken.insert(Poco::toLower(name)).second; ++n)
        name = base + " (" + std::to_string(n) + ")" + extension;
    return name;
}

void writeArchive(const std::string& archivePath, const std::list<std::string>& files, bool& created)
{
    Poco::FileOutputStream out(archivePath, std::ios::out | std::ios::trunc);
    created = true;
    Poco::Zip::Compress compress(out, true, false);
    std::set<std::string> taken;
    for (const std::string& file : files) {
        const Poco::Path path(file);
        compress.addFile(path, Poco::Path(uniqueEntryName(path, taken)), Poco::Zip::ZipCommon::CM_DEFLATE,
                         Poco::Zip::ZipCommon::CL_MAXIMUM);
    }
    compress.close();
    out.close();
}

void removeQuietly(const std::string& path)
{
    try {
        Poco::File file(path);
        if (file.exists())
            file.remove();
    } catch (const std::exception& e) {
        FV_LOG_ERROR("createZipArchive: cannot remove " << path << ": " << exceptionText(e));
    }
}

} // namespace

dt_error createZipArchive(const std::string& archivePath, const std::list<std::string>& files)
{
    bool created = false;
    try {
        writeArchive(archivePath, files, created);
        return dt_success;
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Exception caught when creating zip archieve: " << exceptionText(e));
    } catch (...) {
        FV_LOG_ERROR("Exception caught when creating zip archieve: unknown");
    }
    if (created)
        removeQuietly(archivePath); // half an archive would be sent as if it were whole
    return dt_general_error;
}

} // namespace fv_transfers
