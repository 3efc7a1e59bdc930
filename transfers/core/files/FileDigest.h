#pragma once

#include "core/files/LocalFile.h"

#include <Poco/DigestEngine.h>

#include <cstdint>
#include <string>
#include <vector>

namespace fv_transfers {

// Feeds the bytes [offset, offset + length) of a file into the engine; length 0 means "to the
// end", and a length past the end stops at the end. An offset equal to the size feeds nothing
// and succeeds; an offset past the size, a failed open or seek, or a file that ends before
// the planned bytes are read (it shrank) fail, so a wrong digest is never reported as right.
bool updateDigestFromFile(Poco::DigestEngine& engine, const std::wstring& path, std::uint64_t offset,
                          std::uint64_t length);
// The same on an open file whose size the caller knows.
bool updateDigestFromFile(Poco::DigestEngine& engine, ILocalFile& file, std::uint64_t fileSize, std::uint64_t offset,
                          std::uint64_t length);

// MD5 of a range (as above; 0 and 0: the whole file) as 32 lower-case hex digits.
bool calculateFileMd5Hex(std::string& md5Hex, const std::wstring& path, std::uint64_t offset, std::uint64_t length);
// The 16 bytes of the MD5 of the whole file.
bool calculateFileMd5Digest(Poco::DigestEngine::Digest& digest, const std::wstring& path);

// Base64 on one line (it goes into HTTP headers); false when the result is empty.
bool base64Encode(const std::vector<unsigned char>& bytes, std::string& encoded);

} // namespace fv_transfers
