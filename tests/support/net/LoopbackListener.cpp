#include "support/net/LoopbackListener.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace fv_test {

namespace {

// Fixture threads write to peers that may be gone; the error must come back as EPIPE
// rather than as a signal that kills the test.
void blockSigpipe()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

sockaddr_in loopback(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

} // namespace

LoopbackListener::LoopbackListener(Handler handler, int receiveBufferBytes) : m_handler(std::move(handler))
{
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_wakeFd < 0 || m_listenFd < 0)
        throw std::runtime_error("LoopbackListener: socket failed");
    if (receiveBufferBytes > 0)
        ::setsockopt(m_listenFd, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 64) != 0 || ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("LoopbackListener: bind/listen failed");
    m_port = ntohs(address.sin_port);
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

LoopbackListener::~LoopbackListener()
{
    stop();
    ::close(m_listenFd);
    ::close(m_wakeFd);
}

void LoopbackListener::stop()
{
    if (!m_stopping.exchange(true)) {
        const uint64_t one = 1;
        (void)!::write(m_wakeFd, &one, sizeof one);
    }
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(m_threadsMutex);
        threads.swap(m_connectionThreads);
    }
    for (auto& thread : threads)
        thread.join();
}

bool LoopbackListener::waitFor(int fd, short events, int timeoutMs) const
{
    pollfd entries[2] = {{fd, events, 0}, {m_wakeFd, POLLIN, 0}};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            wait = static_cast<int>(std::max<long long>(0, left.count()));
        }
        const int result = ::poll(entries, 2, wait); // poll skips a negative fd
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0 || m_stopping.load() || entries[1].revents != 0)
            return false;
        return entries[0].revents != 0;
    }
}

bool LoopbackListener::sendAll(int fd, const char* data, std::size_t size, int timeoutMs) const
{
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent > 0) {
            data += sent;
            size -= static_cast<std::size_t>(sent);
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else if (sent < 0 && (errno != EAGAIN || !waitFor(fd, POLLOUT, timeoutMs))) {
            return false;
        }
    }
    return true;
}

bool LoopbackListener::sleepFor(int ms) const
{
    pollfd entry{m_wakeFd, POLLIN, 0};
    int result;
    while ((result = ::poll(&entry, 1, ms)) < 0 && errno == EINTR) {
    }
    return result == 0 && !m_stopping.load();
}

void LoopbackListener::acceptLoop()
{
    blockSigpipe();
    while (waitFor(m_listenFd, POLLIN, -1)) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            continue;
        const int index = m_connectionCount.fetch_add(1);
        std::lock_guard<std::mutex> lock(m_threadsMutex);
        m_connectionThreads.emplace_back([this, fd, index] {
            blockSigpipe();
            m_handler(fd, index);
            ::close(fd);
        });
    }
}

int connectLoopback(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address = loopback(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace fv_test
