#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace fv_transfers {

// A local file that transfers read and write in place. Used by one thread at a time.
// Every operation on a closed file, with a null pointer or with a size of 0 fails; lastError
// then tells why (EBADF, EINVAL) as it does for the system's own failures.
class ILocalFile {
public:
    virtual ~ILocalFile() = default;

    // Opens an existing file (UTF-8 path) for reading, or for reading and writing; never
    // creates one. True when a file is open; the position is then 0.
    virtual bool open(const std::string& path, bool writable) = 0;
    // Closing a closed file is harmless.
    virtual void close() = 0;

    // Writes all bytes at the current position and moves past them.
    virtual bool write(const void* data, std::size_t size) = 0;
    // Reads up to size bytes at the current position and moves past them; false at end of
    // file. A short count is not an error.
    virtual bool read(void* buffer, std::size_t size, std::size_t& count) = 0;
    // Moves to an absolute offset from the start.
    virtual bool seek(std::uint64_t offset) = 0;

    // Reads up to size bytes at `offset` without moving the position. A short count is not an
    // error; count 0 means the file ends at or before `offset`.
    virtual bool readAt(void* buffer, std::size_t size, std::uint64_t offset, std::size_t& count) = 0;
    // Writes all bytes at `offset` without moving the position; a file that cannot take them
    // all (full disk, size limit) fails, with some of them possibly written.
    virtual bool writeAt(const void* data, std::size_t size, std::uint64_t offset) = 0;
    // Makes the written bytes durable: state that counts them is stored only after this succeeds.
    virtual bool sync() = 0;
    // Starts writing the given bytes out without waiting, so that a later sync() waits only for
    // what was written since. A hint: nothing to report when the platform cannot.
    virtual void startWriteback(std::uint64_t offset, std::uint64_t size) { (void)offset, (void)size; }
    // The errno of the most recent failure (ENOSPC, EFBIG, EACCES...), 0 before any.
    virtual int lastError() const = 0;
};

// A closed file of this platform's kind (defined beside its implementation).
std::unique_ptr<ILocalFile> createLocalFile();

} // namespace fv_transfers
