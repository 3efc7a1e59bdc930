#include "core/files/FileDigest.h"

#include "core/base/ExceptionText.h"
#include "core/base/StringConversion.h"
#include "core/files/LocalFile.h"
#include "core/log/FvTransfersLogger.h"

#include <Poco/Base64Encoder.h>
#include <Poco/File.h>
#include <Poco/MD5Engine.h>

#include <algorithm>
#include <cstddef>
#include <exception>
#include <sstream>

namespace fv_transfers {

namespace {

// Fixed, so memory does not grow with the file; large enough that multi-GiB files are not
// read in tiny steps.
constexpr std::size_t kChunkSize = 64 * 1024;

} // namespace

bool updateDigestFromFile(Poco::DigestEngine& engine, ILocalFile& file, std::uint64_t fileSize, std::uint64_t offset,
                          std::uint64_t length)
{
    if (offset > fileSize) {
        FV_LOG_ERROR("updateDigestFromFile: offset " << offset << " is past the end of the file (" << fileSize
                                                     << " bytes)");
        return false;
    }
    // Seeks even to 0: an open file may stand anywhere.
    if (!file.seek(offset)) {
        FV_LOG_ERROR("updateDigestFromFile: cannot seek to " << offset);
        return false;
    }
    const std::uint64_t rest = fileSize - offset;
    std::uint64_t remaining = length == 0 ? rest : std::min(length, rest);
    std::vector<unsigned char> buffer(kChunkSize);
    while (remaining > 0) {
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, buffer.size()));
        std::size_t count = 0;
        if (!file.read(buffer.data(), wanted, count)) {
            FV_LOG_ERROR("updateDigestFromFile: the file ended or failed with " << remaining << " bytes still to read");
            return false;
        }
        engine.update(buffer.data(), static_cast<unsigned>(count));
        remaining -= static_cast<std::uint64_t>(count);
    }
    return true;
}

bool updateDigestFromFile(Poco::DigestEngine& engine, const std::wstring& path, std::uint64_t offset,
                          std::uint64_t length)
{
    try {
        const std::string utf8 = wideToUtf8(path);
        const std::unique_ptr<ILocalFile> file = createLocalFile();
        if (!file->open(utf8, false)) {
            FV_LOG_ERROR("updateDigestFromFile: cannot open " << utf8);
            return false;
        }
        const std::uint64_t size = Poco::File(utf8).getSize();
        return updateDigestFromFile(engine, *file, size, offset, length);
    } catch (const std::exception& e) {
        FV_LOG_ERROR("updateDigestFromFile: Exception: " << exceptionText(e));
        return false;
    }
}

bool calculateFileMd5Hex(std::string& md5Hex, const std::wstring& path, std::uint64_t offset, std::uint64_t length)
{
    try {
        Poco::MD5Engine md5;
        if (!updateDigestFromFile(md5, path, offset, length))
            return false;
        md5Hex = Poco::DigestEngine::digestToHex(md5.digest());
        return true;
    } catch (const std::exception& e) {
        FV_LOG_ERROR("calculateFileMd5Hex: Exception: " << exceptionText(e));
        return false;
    }
}

bool calculateFileMd5Digest(Poco::DigestEngine::Digest& digest, const std::wstring& path)
{
    try {
        Poco::MD5Engine md5;
        if (!updateDigestFromFile(md5, path, 0, 0))
            return false;
        digest = md5.digest();
        return true;
    } catch (const std::exception& e) {
        FV_LOG_ERROR("calculateFileMd5Digest: Exception: " << exceptionText(e));
        return false;
    }
}

bool base64Encode(const std::vector<unsigned char>& bytes, std::string& encoded)
{
    try {
        std::ostringstream text;
        Poco::Base64Encoder encoder(text);
        encoder.rdbuf()->setLineLength(0);
        encoder.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        encoder.close();
        encoded = text.str();
        return !encoded.empty();
    } catch (const std::exception& e) {
        FV_LOG_ERROR("base64Encode: Exception: " << exceptionText(e));
        return false;
    }
}

} // namespace fv_transfers
