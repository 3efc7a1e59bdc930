#pragma once

#include "core/files/LocalFile.h"

#include <cstdio>

namespace fv_transfers {

// ILocalFile over a C stream with 64-bit offsets.
class CFilePosix : public ILocalFile {
public:
    CFilePosix() = default;
    ~CFilePosix() override;
    CFilePosix(const CFilePosix&) = delete;
    CFilePosix& operator=(const CFilePosix&) = delete;

    bool open(const std::string& path, bool writable) override;
    void close() override;
    bool write(const void* data, int size) override;
    bool read(void* buffer, int size, int& count) override;
    bool seek(std::uint64_t offset) override;

private:
    enum class LastOperation { none, read, write };

    // A stream open for update needs a flush or a seek between reading and writing.
    bool switchTo(LastOperation next);

    std::FILE* m_file = nullptr;
    LastOperation m_last = LastOperation::none;
};

} // namespace fv_transfers
