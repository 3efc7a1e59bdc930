#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace fv_test {

// A TCP listener on 127.0.0.1, port 0, that runs a handler on its own thread for every
// accepted connection. stop() (and the destructor) wakes every wait below, closes the
// listener and joins every thread.
class LoopbackListener {
public:
    // The handler gets the non-blocking socket and the connection's index; the listener
    // closes the socket when the handler returns.
    using Handler = std::function<void(int fd, int index)>;

    // receiveBufferBytes > 0 shrinks the receive buffer of accepted sockets (set before
    // listen, so the TCP window is small from the handshake on).
    explicit LoopbackListener(Handler handler, int receiveBufferBytes = 0);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    std::uint16_t port() const { return m_port; }
    int connectionCount() const { return m_connectionCount.load(); }
    bool stopping() const { return m_stopping.load(); }
    void stop();

    // True when the socket is ready for `events` (or failed); false on stop or time-out.
    // A negative time-out waits for readiness or stop only.
    bool waitFor(int fd, short events, int timeoutMs) const;
    // Writes everything to a non-blocking socket; false on failure, stop or time-out.
    bool sendAll(int fd, const char* data, std::size_t size, int timeoutMs) const;
    // Sleeps unless stopped first; false when stopped.
    bool sleepFor(int ms) const;

private:
    void acceptLoop();

    Handler m_handler;
    int m_listenFd = -1;
    int m_wakeFd = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_connectionCount{0};
    std::mutex m_threadsMutex;
    std::vector<std::thread> m_connectionThreads;
    std::thread m_acceptThread;
};

// Opens a blocking-free TCP connection to 127.0.0.1:port; -1 on failure.
int connectLoopback(std::uint16_t port);

} // namespace fv_test
