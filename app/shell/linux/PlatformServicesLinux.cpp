#include "shell/PlatformServices.h"

#include "shell/FileDescriptor.h"

#include <Poco/Exception.h>
#include <Poco/Path.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ferrovan {

namespace {

const char* const kAppDataFolderName = "Ferrovan";

// The XDG rule: a variable that does not hold an absolute path is treated as unset.
std::string absoluteFromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? value : "";
}

std::string homeFromPasswordDatabase()
{
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    int rc = 0;
    while ((rc = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    return rc == 0 && found != nullptr && found->pw_dir != nullptr ? found->pw_dir : "";
}

std::string dataHome()
{
    const std::string xdgDataHome = absoluteFromEnvironment("XDG_DATA_HOME");
    if (!xdgDataHome.empty())
        return xdgDataHome;
    const std::string home = getUserProfileDirectory();
    if (home.empty())
        return "";
    Poco::Path path(home, Poco::Path::PATH_UNIX);
    path.makeDirectory();
    path.pushDirectory(".local");
    path.pushDirectory("share");
    return path.toString();
}

bool isFolder(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Missing parents are made 0700 too, as the XDG rule asks. Errors on the way are left to the
// final check: an existing parent may well refuse a mkdir.
bool createPrivateFolders(const Poco::Path& folder)
{
    Poco::Path partial("/", Poco::Path::PATH_UNIX);
    for (int i = 0; i < folder.depth(); ++i) {
        partial.pushDirectory(folder[i]);
        ::mkdir(partial.toString().c_str(), 0700);
    }
    return isFolder(folder.toString());
}

using Clock = std::chrono::steady_clock;

// -1 (no limit) for no deadline, else the milliseconds left, at least 0.
int millisecondsLeft(bool limited, Clock::time_point deadline)
{
    if (!limited)
        return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(0, std::min<long long>(left, INT_MAX)));
}

// A zombie has exited: it only waits for its parent to reap it.
bool hasExited(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return true;
    const auto close = line.rfind(')'); // the command name may hold spaces and parentheses
    if (close == std::string::npos || close + 2 >= line.size())
        return true;
    const char state = line[close + 2];
    return state == 'Z' || state == 'X';
}

// Without pidfd (an old kernel, a seccomp filter) the process table is polled.
bool pollProcessTable(pid_t pid, bool limited, Clock::time_point deadline)
{
    while (!hasExited(pid)) {
        const int left = millisecondsLeft(limited, deadline);
        if (left == 0)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(left < 0 ? 50 : std::min(left, 50)));
    }
    return true;
}

} // namespace

std::string getLocalAppDataDirectory()
{
    try {
        const std::string base = dataHome();
        if (base.empty())
            return "";
        Poco::Path folder(base, Poco::Path::PATH_UNIX);
        folder.makeDirectory();
        folder.pushDirectory(kAppDataFolderName);
        return createPrivateFolders(folder) ? folder.toString() : "";
    } catch (const Poco::Exception&) {
        return "";
    }
}

std::string getUserProfileDirectory()
{
    const std::string home = absoluteFromEnvironment("HOME");
    if (!home.empty())
        return home;
    const std::string entry = homeFromPasswordDatabase();
    return !entry.empty() && entry[0] == '/' ? entry : "";
}

bool waitForProcessExit(unsigned int pid, unsigned int timeoutMs)
{
    if (pid == 0 || pid > static_cast<unsigned int>(INT_MAX))
        return true;
    const bool limited = timeoutMs != 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto target = static_cast<pid_t>(pid);
    // A pidfd turns readable when the process ends, zombie or not; kill(pid, 0) would call a
    // zombie child alive until it is reaped.
    const FileDescriptor pidfd(static_cast<int>(::syscall(SYS_pidfd_open, target, 0)));
    if (pidfd.get() < 0)
        return errno == ESRCH || pollProcessTable(target, limited, deadline);
    for (;;) {
        pollfd entry{pidfd.get(), POLLIN, 0};
        const int ready = ::poll(&entry, 1, millisecondsLeft(limited, deadline));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

std::string getResourcesDirectoryName()
{
    return "Resources";
}

std::string getParentDirectory(const std::string& path)
{
    return Poco::Path(path, Poco::Path::PATH_UNIX).parent().toString();
}

void toForwardSlashes(std::string& text)
{
    std::replace(text.begin(), text.end(), '\\', '/');
}

} // namespace ferrovan
