#include "support/net/ScriptedServer.h"

#include "support/net/TestCa.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace fv_test {

namespace {

constexpr int kReadTimeoutMs = 10000;
constexpr int kDrainTimeoutMs = 3000;

// One accepted connection, plain or TLS, over a non-blocking socket.
class Stream {
public:
    Stream(int fd, SSL_CTX* context, const LoopbackListener& listener) : m_fd(fd), m_listener(listener)
    {
        if (context) {
            m_ssl = SSL_new(context);
            SSL_set_fd(m_ssl, fd);
        }
    }
    ~Stream()
    {
        if (m_ssl)
            SSL_free(m_ssl);
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    bool handshake()
    {
        if (!m_ssl)
            return true;
        for (;;) {
            const int result = SSL_accept(m_ssl);
            if (result == 1)
                return true;
            if (!waitAfter(result, kReadTimeoutMs))
                return false;
        }
    }

    // Bytes read; 0 at the peer's close; -1 on failure, stop or time-out.
    long read(char* buffer, std::size_t size, int timeoutMs)
    {
        for (;;) {
            if (m_ssl) {
                const int result = SSL_read(m_ssl, buffer, static_cast<int>(size));
                if (result > 0)
                    return result;
                const int error = SSL_get_error(m_ssl, result);
                if (error == SSL_ERROR_ZERO_RETURN)
                    return 0;
                if (!waitAfter(result, timeoutMs))
                    return -1;
            } else {
                const ssize_t result = ::recv(m_fd, buffer, size, 0);
                if (result >= 0)
                    return result;
                if (errno == EINTR)
                    continue;
                if (errno != EAGAIN || !m_listener.waitFor(m_fd, POLLIN, timeoutMs))
                    return -1;
            }
        }
    }

    bool write(const char* data, std::size_t size)
    {
        if (!m_ssl)
            return m_listener.sendAll(m_fd, data, size, kReadTimeoutMs);
        while (size > 0) {
            const int result = SSL_write(m_ssl, data, static_cast<int>(size));
            if (result > 0) {
                data += result;
                size -= static_cast<std::size_t>(result);
            } else if (!waitAfter(result, kReadTimeoutMs)) {
                return false;
            }
        }
        return true;
    }

    void halfClose()
    {
        if (m_ssl)
            SSL_shutdown(m_ssl);
        ::shutdown(m_fd, SHUT_WR);
    }

private:
    bool waitAfter(int result, int timeoutMs)
    {
        const int error = SSL_get_error(m_ssl, result);
        ERR_clear_error();
        if (error == SSL_ERROR_WANT_READ)
            return m_listener.waitFor(m_fd, POLLIN, timeoutMs);
        if (error == SSL_ERROR_WANT_WRITE)
            return m_listener.waitFor(m_fd, POLLOUT, timeoutMs);
        return false;
    }

    int m_fd;
    SSL* m_ssl = nullptr;
    const LoopbackListener& m_listener;
};

std::size_t contentLength(const std::string& head)
{
    std::string lower(head);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    const auto at = lower.find("\r\ncontent-length:");
    if (at == std::string::npos)
        return 0;
    return static_cast<std::size_t>(std::stoull(head.substr(at + 17)));
}

} // namespace

struct ScriptedServer::TlsContext {
    TlsContext(const std::string& certFile, const std::string& keyFile) : context(SSL_CTX_new(TLS_server_method()))
    {
        if (!context || SSL_CTX_use_certificate_chain_file(context, certFile.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
            throw std::runtime_error("ScriptedServer: cannot load " + certFile);
        SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
    }
    ~TlsContext() { SSL_CTX_free(context); }
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    SSL_CTX* context;
};

Script& Script::readHead()
{
    m_steps.push_back({Step::Kind::ReadHead, {}, 0, 0});
    return *this;
}

Script& Script::readBytes(std::size_t count)
{
    m_steps.push_back({Step::Kind::ReadBytes, {}, count, 0});
    return *this;
}

Script& Script::readBody()
{
    m_steps.push_back({Step::Kind::ReadBody, {}, 0, 0});
    return *this;
}

Script& Script::write(const std::string& bytes)
{
    m_steps.push_back({Step::Kind::Write, bytes, 0, 0});
    return *this;
}

Script& Script::writeSplit(const std::string& bytes, const std::vector<std::size_t>& cuts, int pauseMs)
{
    std::size_t from = 0;
    for (const std::size_t cut : cuts) {
        write(bytes.substr(from, cut - from));
        sleep(pauseMs);
        from = cut;
    }
    return write(bytes.substr(from));
}

Script& Script::sleep(int ms)
{
    m_steps.push_back({Step::Kind::Sleep, {}, 0, ms});
    return *this;
}

Script& Script::gate(const std::string& name)
{
    m_steps.push_back({Step::Kind::Gate, name, 0, 0});
    return *this;
}

Script& Script::halfClose()
{
    m_steps.push_back({Step::Kind::HalfClose, {}, 0, 0});
    return *this;
}

Script& Script::close()
{
    m_steps.push_back({Step::Kind::Close, {}, 0, 0});
    return *this;
}

Script& Script::reset()
{
    m_steps.push_back({Step::Kind::Reset, {}, 0, 0});
    return *this;
}

Script& Script::stall()
{
    m_steps.push_back({Step::Kind::Stall, {}, 0, 0});
    return *this;
}

ScriptedServer::ScriptedServer(std::vector<Script> scripts) : ScriptedServer(std::move(scripts), Options{}) {}

ScriptedServer::ScriptedServer(std::vector<Script> scripts, Options options)
    : m_scripts(std::move(scripts)), m_options(std::move(options))
{
    if (m_scripts.empty())
        m_scripts.emplace_back();
    if (m_options.tls) {
        if (m_options.certFile.empty()) {
            m_options.certFile = TestCa::instance().serverCertFile();
            m_options.keyFile = TestCa::instance().serverKeyFile();
        }
        m_tls = std::make_unique<TlsContext>(m_options.certFile, m_options.keyFile);
    }
    m_listener = std::make_unique<LoopbackListener>([this](int fd, int index) { serve(fd, index); },
                                                    m_options.receiveBufferBytes);
}

ScriptedServer::~ScriptedServer()
{
    stop();
}

void ScriptedServer::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_gatesReleased = true;
    }
    m_gateChanged.notify_all();
    m_listener->stop();
}

bool ScriptedServer::waitAtGate(const std::string& name, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_gateChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_reachedGates.count(name) > 0; });
}

void ScriptedServer::openGate(const std::string& name)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_openGates.insert(name);
    }
    m_gateChanged.notify_all();
}

bool ScriptedServer::passGate(const std::string& name)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_reachedGates.insert(name);
    m_gateChanged.notify_all();
    m_gateChanged.wait(lock, [&] { return m_gatesReleased || m_openGates.count(name) > 0; });
    return m_openGates.count(name) > 0;
}

std::string ScriptedServer::url(const std::string& path) const
{
    return std::string(m_options.tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(port()) + path;
}

std::string ScriptedServer::received(int connection) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return connection < static_cast<int>(m_received.size()) ? m_received[connection] : std::string();
}

std::string ScriptedServer::head(int connection) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return connection < static_cast<int>(m_heads.size()) ? m_heads[connection] : std::string();
}

void ScriptedServer::record(int index, const char* data, std::size_t size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_received.size() <= static_cast<std::size_t>(index))
        m_received.resize(index + 1);
    m_received[index].append(data, size);
}

void ScriptedServer::serve(int fd, int index)
{
    const Script& script = m_scripts[std::min<std::size_t>(index, m_scripts.size() - 1)];
    Stream stream(fd, m_tls ? m_tls->context : nullptr, *m_listener);
    if (!stream.handshake())
        return;
    std::string pending; // read but not yet consumed by a step
    std::string lastHead;
    bool peerOpen = true;
    char buffer[16384];
    auto readMore = [&](int timeoutMs) {
        const long count = peerOpen ? stream.read(buffer, sizeof buffer, timeoutMs) : -1;
        if (count <= 0) {
            peerOpen = false;
            return false;
        }
        record(index, buffer, static_cast<std::size_t>(count));
        pending.append(buffer, static_cast<std::size_t>(count));
        return true;
    };
    auto consume = [&](std::size_t count) {
        while (pending.size() < count && readMore(kReadTimeoutMs)) {
        }
        pending.erase(0, std::min(count, pending.size()));
    };
    bool closed = false;
    for (const auto& step : script.steps()) {
        if (m_listener->stopping())
            return;
        switch (step.kind) {
        case Script::Step::Kind::ReadHead: {
            std::size_t end;
            while ((end = pending.find("\r\n\r\n")) == std::string::npos && readMore(kReadTimeoutMs)) {
            }
            if (end == std::string::npos)
                break;
            lastHead = pending.substr(0, end + 4);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_heads.size() <= static_cast<std::size_t>(index))
                    m_heads.resize(index + 1);
                if (m_heads[index].empty())
                    m_heads[index] = lastHead;
            }
            pending.erase(0, end + 4);
            break;
        }
        case Script::Step::Kind::ReadBytes: consume(step.count); break;
        case Script::Step::Kind::ReadBody: consume(contentLength(lastHead)); break;
        case Script::Step::Kind::Write: stream.write(step.data.data(), step.data.size()); break;
        case Script::Step::Kind::Sleep: m_listener->sleepFor(step.ms); break;
        case Script::Step::Kind::Gate:
            if (!passGate(step.data))
                return;
            break;
        case Script::Step::Kind::HalfClose: stream.halfClose(); break;
        case Script::Step::Kind::Close: closed = true; break;
        case Script::Step::Kind::Reset: {
            const linger abort{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            return;
        }
        case Script::Step::Kind::Stall: m_listener->waitFor(-1, 0, -1); return;
        }
        if (closed)
            break;
    }
    // A graceful end: the peer reads everything we wrote before it sees the close, and what
    // it still sends is recorded instead of answered with a reset.
    stream.halfClose();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDrainTimeoutMs);
    while (peerOpen && std::chrono::steady_clock::now() < deadline && readMore(kDrainTimeoutMs)) {
    }
}

} // namespace fv_test
