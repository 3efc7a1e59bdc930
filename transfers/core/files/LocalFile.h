#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace fv_transfers {

// A local file that transfers read and write in place. Used by one thread at a time.
class ILocalFile {
public:
    virtual ~ILocalFile() = default;

    // Opens an existing file (UTF-8 path) for reading, or for reading and writing; never
    // creates one. True when a file is open.
    virtual bool open(const std::string& path, bool writable) = 0;
    // Closing a closed file is harmless.
    virtual void close() = 0;
    // Writes all bytes at the current position; false on a null pointer, a size <= 0 or an error.
    virtual bool write(const void* data, int size) = 0;
    // Reads up to size bytes; false at end of file, on an error or bad arguments. A short
    // count is not an error.
    virtual bool read(void* buffer, int size, int& count) = 0;
    // Moves to an absolute offset from the start.
    virtual bool seek(std::uint64_t offset) = 0;
};

// A closed file of this platform's kind (defined beside its implementation).
std::unique_ptr<ILocalFile> createLocalFile();

} // namespace fv_transfers
