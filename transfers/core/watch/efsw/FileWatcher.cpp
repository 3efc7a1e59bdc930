#include "core/watch/efsw/FileWatcher.h"

#include "core/log/FvTransfersLogger.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace efsw {

namespace {

const std::uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO |
                                 IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// A rename's two halves are queued together; a lone "moved from" older than this left the folder.
const int kMovePairingMs = 20;

std::atomic<WatchID> g_lastWatchId{0};

WatchID errorFor(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR: return Errors::FileNotFound;
    case EACCES: return Errors::FileNotReadable;
    default: return Errors::WatcherFailed;
    }
}

} // namespace

class FileWatcher::Impl {
public:
    Impl();
    ~Impl();

    WatchID addWatch(const std::string& directory, FileWatchListener* listener);
    void removeWatch(WatchID id);
    void start();

private:
    struct Watch {
        WatchID id;
        std::string dir;
        FileWatchListener* listener;
    };
    struct PendingMove {
        int wd = -1;
        std::uint32_t cookie = 0;
        std::string name;
    };

    void run();
    void readEvents();
    void handleEvent(const inotify_event& event);
    void deliver(int wd, const std::string& name, Action action, const std::string& oldName = std::string());
    void flushPendingMove();
    void deliverOverflow();

    const int m_inotifyFd;
    const int m_stopFd;
    std::mutex m_lock;
    std::map<int, Watch> m_watches; // by inotify watch descriptor
    std::thread m_thread;
    PendingMove m_pendingMove; // reader thread only
};

FileWatcher::Impl::Impl()
    : m_inotifyFd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), m_stopFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (m_inotifyFd < 0)
        FV_LOG_ERROR("efsw::FileWatcher: inotify_init1 failed: " << std::strerror(errno));
}

FileWatcher::Impl::~Impl()
{
    if (m_thread.joinable()) {
        const std::uint64_t one = 1;
        if (::write(m_stopFd, &one, sizeof(one)) != sizeof(one))
            FV_LOG_ERROR("efsw::FileWatcher: cannot wake the watcher thread");
        m_thread.join();
    }
    if (m_inotifyFd >= 0)
        ::close(m_inotifyFd);
    if (m_stopFd >= 0)
        ::close(m_stopFd);
}

WatchID FileWatcher::Impl::addWatch(const std::string& directory, FileWatchListener* listener)
{
    if (m_inotifyFd < 0 || m_stopFd < 0 || !listener)
        return Errors::WatcherFailed;
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0)
        return errorFor(errno);
    if (!S_ISDIR(info.st_mode))
        return Errors::FileNotFound;
    std::lock_guard<std::mutex> lock(m_lock);
    const int wd = ::inotify_add_watch(m_inotifyFd, directory.c_str(), kWatchMask);
    if (wd < 0) {
        const int error = errno;
        FV_LOG_ERROR("efsw::FileWatcher: cannot watch " << directory << ": " << std::strerror(error));
        return errorFor(error);
    }
    // The kernel gives the same descriptor for every path of one folder.
    if (m_watches.count(wd))
        return Errors::FileRepeated;
    const WatchID id = ++g_lastWatchId;
    m_watches.emplace(wd, Watch{id, directory, listener});
    return id;
}

void FileWatcher::Impl::removeWatch(WatchID id)
{
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto it = m_watches.begin(); it != m_watches.end(); ++it) {
        if (it->second.id == id) {
            ::inotify_rm_watch(m_inotifyFd, it->first);
            m_watches.erase(it);
            return;
        }
    }
}

void FileWatcher::Impl::start()
{
    if (!m_thread.joinable() && m_inotifyFd >= 0 && m_stopFd >= 0)
        m_thread = std::thread(&Impl::run, this);
}

void FileWatcher::Impl::run()
{
    ::pthread_setname_np(::pthread_self(), "fv-file-watch");
    pollfd fds[2] = {{m_inotifyFd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
    for (;;) {
        const int timeout = m_pendingMove.wd >= 0 ? kMovePairingMs : -1;
        const int ready = ::poll(fds, 2, timeout);
        if (ready < 0 && errno != EINTR) {
            FV_LOG_ERROR("efsw::FileWatcher: poll failed: " << std::strerror(errno));
            return;
        }
        if (fds[1].revents != 0)
            return;
        if (ready == 0)
            flushPendingMove();
        if (fds[0].revents != 0)
            readEvents();
    }
}

void FileWatcher::Impl::readEvents()
{
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(m_inotifyFd, buffer, sizeof(buffer));
        if (got <= 0)
            return;
        for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            handleEvent(*event);
            offset += sizeof(inotify_event) + event->len;
        }
    }
}

void FileWatcher::Impl::handleEvent(const inotify_event& event)
{
    if (event.mask & IN_Q_OVERFLOW) {
        flushPendingMove();
        deliverOverflow();
        return;
    }
    if (event.mask & IN_IGNORED) {
        // The kernel dropped the watch: the folder was deleted (or unmounted) unless we removed it.
        flushPendingMove();
        Watch watch{};
        {
            std::lock_guard<std::mutex> lock(m_lock);
            const auto it = m_watches.find(event.wd);
            if (it == m_watches.end())
                return;
            watch = it->second;
            m_watches.erase(it);
        }
        watch.listener->handleFileAction(watch.id, watch.dir, std::string(), Actions::Delete);
        return;
    }
    if (event.mask & IN_MOVE_SELF) {
        // Every file of the folder left its path with it.
        flushPendingMove();
        deliver(event.wd, std::string(), Actions::Delete);
        return;
    }
    const std::string name = event.len > 0 ? std::string(event.name) : std::string();
    if (m_pendingMove.wd >= 0) {
        if ((event.mask & IN_MOVED_TO) && event.wd == m_pendingMove.wd && event.cookie == m_pendingMove.cookie) {
            const std::string oldName = m_pendingMove.name;
            m_pendingMove = PendingMove();
            deliver(event.wd, name, Actions::Moved, oldName);
            return;
        }
        flushPendingMove();
    }
    if (event.mask & IN_MOVED_FROM) {
        m_pendingMove.wd = event.wd;
        m_pendingMove.cookie = event.cookie;
        m_pendingMove.name = name;
    } else if (event.mask & (IN_CREATE | IN_MOVED_TO)) {
        deliver(event.wd, name, Actions::Add);
    } else if (event.mask & IN_DELETE) {
        deliver(event.wd, name, Actions::Delete);
    } else if (event.mask & (IN_MODIFY | IN_CLOSE_WRITE)) {
        deliver(event.wd, name, Actions::Modified);
    }
}

void FileWatcher::Impl::flushPendingMove()
{
    if (m_pendingMove.wd < 0)
        return;
    const PendingMove moved = m_pendingMove;
    m_pendingMove = PendingMove();
    deliver(moved.wd, moved.name, Actions::Delete);
}

void FileWatcher::Impl::deliver(int wd, const std::string& name, Action action, const std::string& oldName)
{
    Watch watch{};
    {
        std::lock_guard<std::mutex> lock(m_lock);
        const auto it = m_watches.find(wd);
        if (it == m_watches.end())
            return;
        watch = it->second;
    }
    // Called without the lock, so a listener may wait for a lock held by removeWatch's caller.
    watch.listener->handleFileAction(watch.id, watch.dir, name, action, oldName);
}

void FileWatcher::Impl::deliverOverflow()
{
    FV_LOG_WARNING("efsw::FileWatcher: notifications were lost, reporting every watched folder as changed");
    std::map<int, Watch> watches;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        watches = m_watches;
    }
    for (const auto& entry : watches)
        entry.second.listener->handleFileAction(entry.second.id, entry.second.dir, std::string(), Actions::Modified);
}

FileWatcher::FileWatcher() : m_impl(std::make_unique<Impl>()) {}

FileWatcher::~FileWatcher() = default;

WatchID FileWatcher::addWatch(const std::string& directory, FileWatchListener* listener, bool recursive)
{
    if (recursive)
        return Errors::WatcherFailed;
    return m_impl->addWatch(directory, listener);
}

void FileWatcher::removeWatch(WatchID watchid)
{
    m_impl->removeWatch(watchid);
}

void FileWatcher::watch()
{
    m_impl->start();
}

} // namespace efsw
