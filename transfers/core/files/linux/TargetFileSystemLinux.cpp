#include "core/files/linux/TargetFileSystemLinux.h"

#include "core/files/linux/FileAttributesModifierLinux.h"
#include "core/base/StringConversion.h"
#include "core/log/FvTransfersLogger.h"

#include <Poco/Error.h>
#include <Poco/Exception.h>
#include <Poco/File.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace fv_transfers {

namespace {

constexpr int kTempNameAttempts = 16;

std::string randomTag()
{
    static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device device; // the kernel's random source: the tag must not be guessable
    std::uniform_int_distribution<int> pick(0, sizeof(kAlphabet) - 2);
    std::string tag(8, 'a');
    for (char& c : tag)
        c = kAlphabet[pick(device)];
    return tag;
}

int logged(int error, const char* step, const std::string& path)
{
    if (error != 0)
        FV_LOG_ERROR("CTargetFileSystemLinux::" << step << ": " << path << ": " << Poco::Error::getMessage(error));
    return error;
}

// Closes on every path out.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    int close()
    {
        const int result = ::close(m_fd);
        m_fd = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int m_fd;
};

} // namespace

int CTargetFileSystemLinux::createFolders(const std::string& folder)
{
    try {
        Poco::File(folder).createDirectories();
        return 0;
    } catch (const Poco::Exception& e) {
        FV_LOG_ERROR("CTargetFileSystemLinux::createFolders: " << folder << ": " << e.displayText());
        return EIO;
    }
}

int CTargetFileSystemLinux::createTempFile(const std::string& finalPath, std::string& tempPath)
{
    const std::size_t slash = finalPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : finalPath.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
    int error = EEXIST;
    for (int attempt = 0; attempt < kTempNameAttempts && error == EEXIST; ++attempt) {
        const std::string candidate = folder + tempFileNameFor(name, randomTag());
        Descriptor fd(::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd.get() < 0) {
            error = errno;
            continue;
        }
        error = fd.close();
        if (error == 0)
            tempPath = candidate;
    }
    return logged(error, "createTempFile", finalPath);
}

int CTargetFileSystemLinux::preallocate(const std::string& path, std::uint64_t size)
{
    if (size == 0)
        return 0;
    Descriptor fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return logged(errno, "preallocate", path);
    if (::fallocate(fd.get(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) != 0) {
        const int error = errno;
        if (error == EOPNOTSUPP)
            return 0;
        return logged(error, "preallocate", path);
    }
    return 0;
}

int CTargetFileSystemLinux::rename(const std::string& from, const std::string& to)
{
    return logged(::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno, "rename", from + " -> " + to);
}

int CTargetFileSystemLinux::syncFolder(const std::string& folder)
{
    Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0)
        return logged(errno, "syncFolder", folder);
    return logged(::fsync(fd.get()) == 0 ? 0 : errno, "syncFolder", folder);
}

int CTargetFileSystemLinux::setModificationTime(const std::string& path, std::uint64_t msSince1970)
{
    CFileAttributesModifierLinux modifier;
    if (!modifier.open(utf8ToWide(path)) || !modifier.setModificationTime(msSince1970))
        return logged(EIO, "setModificationTime", path);
    return 0;
}

int CTargetFileSystemLinux::removeFile(const std::string& path)
{
    if (::unlink(path.c_str()) == 0 || errno == ENOENT)
        return 0;
    return logged(errno, "removeFile", path);
}

TargetFileStatus CTargetFileSystemLinux::status(const std::string& path)
{
    TargetFileStatus result;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return result;
    result.exists = true;
    result.size = static_cast<std::uint64_t>(info.st_size);
    result.modifiedMs = static_cast<std::uint64_t>(info.st_mtim.tv_sec) * 1000 +
                        static_cast<std::uint64_t>(info.st_mtim.tv_nsec) / 1000000;
    return result;
}

std::unique_ptr<ITargetFileSystem> createTargetFileSystem()
{
    return std::make_unique<CTargetFileSystemLinux>();
}

} // namespace fv_transfers
