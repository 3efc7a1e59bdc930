#pragma once

#include "core/files/LocalFile.h"

namespace fv_transfers {

// ILocalFile over a file descriptor with 64-bit offsets. There is no buffer in user space, so
// a write that returned is in the kernel's hands and sync() covers it.
class CFilePosix : public ILocalFile {
public:
    CFilePosix() = default;
    ~CFilePosix() override;
    CFilePosix(const CFilePosix&) = delete;
    CFilePosix& operator=(const CFilePosix&) = delete;

    bool open(const std::string& path, bool writable) override;
    void close() override;
    bool write(const void* data, std::size_t size) override;
    bool read(void* buffer, std::size_t size, std::size_t& count) override;
    bool seek(std::uint64_t offset) override;
    bool readAt(void* buffer, std::size_t size, std::uint64_t offset, std::size_t& count) override;
    bool writeAt(const void* data, std::size_t size, std::uint64_t offset) override;
    bool sync() override;
    void startWriteback(std::uint64_t offset, std::uint64_t size) override;
    int lastError() const override { return m_lastError; }

private:
    // Records `error` and gives false, so failures read `return fail(EINVAL);`.
    bool fail(int error);
    // The checks shared by every transfer: an open file, a pointer and a size.
    bool usable(const void* pointer, std::size_t size);

    int m_fd = -1;
    // The stream position that read, write and seek keep; the positional calls ignore it.
    std::uint64_t m_position = 0;
    int m_lastError = 0;
};

} // namespace fv_transfers
