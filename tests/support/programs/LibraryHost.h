#pragma once

#include <string>

namespace fv_test {

struct HostOptions {
    std::string appFolder;
    std::string restUrl;
    std::string caFile; // empty: the system's
    bool trace = false; // verbose library log
};

// The shipped library started for one program: its global configuration set from the options,
// started by the constructor and ended by the destructor. The library runs once per process,
// so the managers of one program share one (see DownloadManagerHost, UploadManagerHost). Uses
// only what the library exports.
class LibraryHost {
public:
    // Throws std::runtime_error when the library does not start.
    explicit LibraryHost(const HostOptions& options);
    ~LibraryHost();
    LibraryHost(const LibraryHost&) = delete;
    LibraryHost& operator=(const LibraryHost&) = delete;
};

// Conversions at the library's wide-string interface (paths, URLs), in the locale's encoding.
std::wstring toWide(const std::string& text);
std::string toUtf8(const std::wstring& text);

} // namespace fv_test
