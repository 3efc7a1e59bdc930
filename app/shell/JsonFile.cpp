#include "shell/JsonFile.h"

#include "shell/FerrovanLogger.h"
#include "shell/FileDescriptor.h"
#include "shell/Logger.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace ferrovan {

namespace {

constexpr off_t kMaxJsonFileBytes = 10485760;

void logWriteFailure(const std::string& what, const std::string& path, int error)
{
    logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_ERROR,
            "ferrovan::writeJsonToFile: Cannot " + what + " " + path + ": " + std::strerror(error));
}

bool writeAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

// Writes and syncs `text` to a new private file at `path`; on failure logs and leaves nothing.
bool writePrivateFile(const std::string& path, const std::string& text)
{
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (file.get() < 0) {
        logWriteFailure("create", path, errno);
        return false;
    }
    // A leftover file keeps its mode through O_CREAT.
    const bool ok =
        ::fchmod(file.get(), 0600) == 0 && writeAll(file.get(), text) && ::fsync(file.get()) == 0 && file.close() == 0;
    if (!ok) {
        logWriteFailure("write", path, errno);
        ::unlink(path.c_str());
    }
    return ok;
}

// The rename itself is durable only once the folder is synced; a failure here loses nothing.
void syncParentFolder(const std::string& path)
{
    const std::string::size_type slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
}

} // namespace

bool readFileToString(const std::string& path, Json::Value& root)
{
    try {
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > kMaxJsonFileBytes)
            return false;
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return false;
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad())
            return false;
        Json::Reader reader;
        return reader.parse(text, root, false);
    } catch (const std::exception&) {
        return false;
    }
}

bool writeJsonToFile(const std::string& path, const Json::Value& root)
{
    const std::string temporary = path + ".tmp";
    if (!writePrivateFile(temporary, Json::StyledWriter().write(root)))
        return false;
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        logWriteFailure("replace", path, errno);
        ::unlink(temporary.c_str());
        return false;
    }
    syncParentFolder(path);
    return true;
}

} // namespace ferrovan
