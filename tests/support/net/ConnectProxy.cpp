#include "support/net/ConnectProxy.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <sstream>

namespace fv_test {

namespace {

constexpr int kHeadTimeoutMs = 10000;

std::string headerValue(const std::string& head, const std::string& name)
{
    std::istringstream lines(head);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto colon = line.find(':');
        if (colon == std::string::npos || colon != name.size())
            continue;
        if (std::equal(name.begin(), name.end(), line.begin(),
                       [](char a, char b) { return std::tolower(a) == std::tolower(b); })) {
            auto value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(' '));
            return value;
        }
    }
    return {};
}

} // namespace

ConnectProxy::ConnectProxy()
    : m_listener(std::make_unique<LoopbackListener>([this](int fd, int index) { serve(fd, index); }))
{
}

ConnectProxy::~ConnectProxy()
{
    stop();
}

void ConnectProxy::stop()
{
    m_listener->stop();
}

std::vector<ConnectProxy::Request> ConnectProxy::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void ConnectProxy::serve(int fd, int)
{
    std::string head;
    char buffer[4096];
    // Byte by byte, so that nothing the client sends after the head is taken from the tunnel.
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        const ssize_t count = ::recv(fd, buffer, 1, 0);
        if (count > 0)
            head.append(buffer, 1);
        else if (count == 0 || (errno != EAGAIN && errno != EINTR) || !m_listener->waitFor(fd, POLLIN, kHeadTimeoutMs))
            return;
    }
    const std::string requestLine = head.substr(0, head.find("\r\n"));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back({requestLine, headerValue(head, "Proxy-Authorization")});
    }
    std::istringstream parts(requestLine);
    std::string method, target;
    parts >> method >> target;
    const auto colon = target.rfind(':');
    const std::string host = colon == std::string::npos ? std::string() : target.substr(0, colon);
    int port = 0;
    try {
        port = colon == std::string::npos ? 0 : std::stoi(target.substr(colon + 1));
    } catch (const std::exception&) {
    }
    if (method != "CONNECT" || port <= 0 || port > 65535) {
        const std::string answer = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        m_listener->sendAll(fd, answer.data(), answer.size(), kHeadTimeoutMs);
        return;
    }
    if (host != "127.0.0.1" && host != "localhost") {
        const std::string answer = "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        m_listener->sendAll(fd, answer.data(), answer.size(), kHeadTimeoutMs);
        return;
    }
    const int upstream = connectLoopback(static_cast<std::uint16_t>(port));
    if (upstream < 0) {
        const std::string answer = "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        m_listener->sendAll(fd, answer.data(), answer.size(), kHeadTimeoutMs);
        return;
    }
    ::fcntl(upstream, F_SETFL, ::fcntl(upstream, F_GETFL) | O_NONBLOCK);
    const std::string established = "HTTP/1.1 200 Connection established\r\n\r\n";
    if (m_listener->sendAll(fd, established.data(), established.size(), kHeadTimeoutMs))
        relay(fd, upstream);
    ::close(upstream);
}

void ConnectProxy::relay(int client, int upstream)
{
    int fds[2] = {client, upstream};
    bool open[2] = {true, true};
    char buffer[16384];
    while ((open[0] || open[1]) && !m_listener->stopping()) {
        pollfd entries[2] = {{open[0] ? fds[0] : -1, POLLIN, 0}, {open[1] ? fds[1] : -1, POLLIN, 0}};
        const int ready = ::poll(entries, 2, 100);
        if (ready < 0 && errno != EINTR)
            return;
        for (int side = 0; side < 2; ++side) {
            if (!open[side] || entries[side].revents == 0)
                continue;
            const ssize_t count = ::recv(fds[side], buffer, sizeof buffer, 0);
            if (count > 0) {
                if (!m_listener->sendAll(fds[1 - side], buffer, static_cast<std::size_t>(count), kHeadTimeoutMs))
                    return;
            } else if (count == 0 || (errno != EAGAIN && errno != EINTR)) {
                open[side] = false;
                ::shutdown(fds[1 - side], SHUT_WR);
            }
        }
    }
}

} // namespace fv_test
