#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace fv_transfers {

// What is known of a local file; `exists` false leaves the other fields 0.
struct TargetFileStatus {
    bool exists = false;
    std::uint64_t size = 0;
    std::uint64_t modifiedMs = 0; // milliseconds since 1970-01-01
};

// The file-system steps that put a downloaded file in place: a temporary file nobody else can
// have made, space reserved up front, and an atomic, durable swap into the final name. Paths
// are UTF-8; results are 0 or an errno value. Tests wrap it to inject failures and watch the
// order of the steps.
class ITargetFileSystem {
public:
    virtual ~ITargetFileSystem() = default;

    // The folder and every missing parent.
    virtual int createFolders(const std::string& folder) = 0;
    // A new empty file in the folder of `finalPath`, named by tempFileNameFor with a random tag;
    // never opens one that exists. `tempPath` is set on success only.
    virtual int createTempFile(const std::string& finalPath, std::string& tempPath) = 0;
    // Reserves `size` bytes without changing the file's size, so a full disk shows before the
    // first byte moves. A file system that cannot reserve is not an error.
    virtual int preallocate(const std::string& path, std::uint64_t size) = 0;
    // Replaces `to` by `from` in one step; both in one folder.
    virtual int rename(const std::string& from, const std::string& to) = 0;
    // Makes the folder's entries (a rename into it) durable.
    virtual int syncFolder(const std::string& folder) = 0;
    virtual int setModificationTime(const std::string& path, std::uint64_t msSince1970) = 0;
    // A missing file is not an error.
    virtual int removeFile(const std::string& path) = 0;
    virtual TargetFileStatus status(const std::string& path) = 0;
};

// The platform's own (defined beside its implementation).
std::unique_ptr<ITargetFileSystem> createTargetFileSystem();

// "<final name>.<tag>.dl" of the last segment of `finalPath`, the final name cut at a UTF-8
// character boundary so that the whole name stays within 255 bytes.
std::string tempFileNameFor(const std::string& finalName, const std::string& tag);
// The folder part of a path ("" for a bare name, "/" for a file at the root).
std::string parentFolderOf(const std::string& path);

} // namespace fv_transfers
