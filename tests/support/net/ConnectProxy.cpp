#include "support/net/ConnectProxy.h"

#include <Poco/Base64Decoder.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <iterator>
#include <sstream>

namespace fv_test {

namespace {

constexpr int kHeadTimeoutMs = 10000;

bool equalsNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string headerValue(const std::string& head, const std::string& name)
{
    std::istringstream lines(head);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto colon = line.find(':');
        if (colon == std::string::npos || !equalsNoCase(line.substr(0, colon), name))
            continue;
        auto value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        return value;
    }
    return {};
}

// "user:password" of a "Basic" value; empty for anything else.
std::string basicCredentials(const std::string& authorization)
{
    const std::size_t space = authorization.find(' ');
    if (space == std::string::npos || !equalsNoCase(authorization.substr(0, space), "Basic"))
        return {};
    std::istringstream encoded(authorization.substr(space + 1));
    Poco::Base64Decoder decoder(encoded);
    try {
        return std::string(std::istreambuf_iterator<char>(decoder), std::istreambuf_iterator<char>());
    } catch (const std::exception&) {
        return {};
    }
}

// The proxy reaches this machine only, whatever name the request uses for it.
bool isLoopbackName(const std::string& host)
{
    return host == "127.0.0.1" || equalsNoCase(host, "localhost");
}

// "host:port" split; port 0 when it is missing or not a port.
std::pair<std::string, int> splitHostPort(const std::string& hostAndPort, int defaultPort)
{
    const auto colon = hostAndPort.rfind(':');
    if (colon == std::string::npos)
        return {hostAndPort, defaultPort};
    int port = 0;
    try {
        std::size_t used = 0;
        port = std::stoi(hostAndPort.substr(colon + 1), &used);
        if (used != hostAndPort.size() - colon - 1)
            port = 0;
    } catch (const std::exception&) {
    }
    return {hostAndPort.substr(0, colon), port > 0 && port <= 65535 ? port : 0};
}

// The head as the origin server gets it: the request line in origin form, no proxy fields,
// and the connection closed after this one exchange.
std::string originHead(const std::string& requestLine, const std::string& head)
{
    std::string result = requestLine + "\r\n";
    std::istringstream lines(head.substr(head.find("\r\n") + 2));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            break;
        const std::string name = line.substr(0, line.find(':'));
        if (equalsNoCase(name, "Proxy-Authorization") || equalsNoCase(name, "Proxy-Connection") ||
            equalsNoCase(name, "Connection") || equalsNoCase(name, "Keep-Alive"))
            continue;
        result += line + "\r\n";
    }
    return result + "Connection: close\r\n\r\n";
}

} // namespace

ConnectProxy::ConnectProxy()
    : m_listener(std::make_unique<LoopbackListener>([this](int fd, int index) { serve(fd, index); }))
{
}

ConnectProxy::ConnectProxy(Credentials required)
    : m_required(std::move(required)),
      m_listener(std::make_unique<LoopbackListener>([this](int fd, int index) { serve(fd, index); }))
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

int ConnectProxy::challengesSent() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_challenges;
}

std::vector<std::string> ConnectProxy::acceptedCredentials() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_accepted;
}

void ConnectProxy::serve(int fd, int)
{
    // A challenged client may try again on the same connection.
    for (;;) {
        const std::optional<std::string> head = readHead(fd);
        if (!head)
            return;
        const std::string requestLine = head->substr(0, head->find("\r\n"));
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back({requestLine, headerValue(*head, "Proxy-Authorization")});
        }
        std::istringstream parts(requestLine);
        std::string method, target, version;
        parts >> method >> target >> version;
        if (checkCredentials(*head) == Verdict::Challenge) {
            // A body would be taken for the next head: such a client starts over.
            const std::string length = headerValue(*head, "Content-Length");
            const bool keepOpen = length.empty() || length == "0";
            answer(fd, "407 Proxy Authentication Required",
                   "Proxy-Authenticate: Basic realm=\"" + m_required->realm + "\"\r\n", keepOpen);
            if (keepOpen)
                continue;
            return;
        }
        if (method == "CONNECT")
            return tunnel(fd, target);
        if (target.compare(0, 7, "http://") == 0)
            return forward(fd, method + " ", target.substr(7), " " + version, *head);
        return answer(fd, "400 Bad Request");
    }
}

std::optional<std::string> ConnectProxy::readHead(int fd) const
{
    std::string head;
    char byte = 0;
    // Byte by byte, so that nothing the client sends after the head is taken from the tunnel.
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        const ssize_t count = ::recv(fd, &byte, 1, 0);
        if (count > 0)
            head.push_back(byte);
        else if (count == 0 || (errno != EAGAIN && errno != EINTR) || !m_listener->waitFor(fd, POLLIN, kHeadTimeoutMs))
            return std::nullopt;
    }
    return head;
}

ConnectProxy::Verdict ConnectProxy::checkCredentials(const std::string& head)
{
    if (!m_required)
        return Verdict::Pass;
    const std::string given = basicCredentials(headerValue(head, "Proxy-Authorization"));
    std::lock_guard<std::mutex> lock(m_mutex);
    if (given == m_required->user + ":" + m_required->password) {
        m_accepted.push_back(given);
        return Verdict::Pass;
    }
    ++m_challenges;
    return Verdict::Challenge;
}

void ConnectProxy::tunnel(int fd, const std::string& target)
{
    const int upstream = connectUpstream(fd, target, 0);
    if (upstream < 0)
        return;
    const std::string established = "HTTP/1.1 200 Connection established\r\n\r\n";
    if (m_listener->sendAll(fd, established.data(), established.size(), kHeadTimeoutMs))
        relay(fd, upstream);
    ::close(upstream);
}

void ConnectProxy::forward(int fd, const std::string& method, const std::string& address, const std::string& version,
                           const std::string& head)
{
    const std::size_t pathStart = address.find('/');
    const std::string path = pathStart == std::string::npos ? "/" : address.substr(pathStart);
    const int upstream = connectUpstream(fd, address.substr(0, pathStart), 80);
    if (upstream < 0)
        return;
    const std::string request = originHead(method + path + version, head);
    // Whatever body follows the head is relayed as it comes.
    if (m_listener->sendAll(upstream, request.data(), request.size(), kHeadTimeoutMs))
        relay(fd, upstream);
    ::close(upstream);
}

int ConnectProxy::connectUpstream(int fd, const std::string& hostAndPort, int defaultPort)
{
    const auto [host, port] = splitHostPort(hostAndPort, defaultPort);
    if (port == 0) {
        answer(fd, "400 Bad Request");
        return -1;
    }
    if (!isLoopbackName(host)) {
        answer(fd, "403 Forbidden");
        return -1;
    }
    const int upstream = connectLoopback(static_cast<std::uint16_t>(port));
    if (upstream < 0) {
        answer(fd, "502 Bad Gateway");
        return -1;
    }
    ::fcntl(upstream, F_SETFL, ::fcntl(upstream, F_GETFL) | O_NONBLOCK);
    return upstream;
}

void ConnectProxy::answer(int fd, const std::string& statusLine, const std::string& fields, bool keepOpen) const
{
    const std::string text = "HTTP/1.1 " + statusLine + "\r\n" + fields + "Content-Length: 0\r\n" +
                             (keepOpen ? "" : "Connection: close\r\n") + "\r\n";
    m_listener->sendAll(fd, text.data(), text.size(), kHeadTimeoutMs);
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
