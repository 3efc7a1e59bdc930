#include "support/service/TestService.h"

#include "support/net/TestCa.h"
#include "support/service/PageRoutes.h"
#include "support/service/ServiceConnection.h"
#include "support/service/StorageRoutes.h"

#include <Poco/Net/Context.h>
#include <Poco/Net/SecureServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/URI.h>

#include <csignal>
#include <cerrno>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fv_test {

namespace {

Poco::Net::Context::Ptr serverContext(const TestServiceOptions& options)
{
    std::string certificate = options.certificateFile;
    std::string key = options.privateKeyFile;
    if (certificate.empty()) {
        certificate = TestCa::instance().serverCertFile();
        key = TestCa::instance().serverKeyFile();
    }
    return new Poco::Net::Context(Poco::Net::Context::TLS_SERVER_USE, key, certificate, "",
                                  Poco::Net::Context::VERIFY_NONE);
}

} // namespace

TestService::TestService(TestServiceOptions options)
    : m_options(std::move(options)), m_log(m_options.bodyCaptureLimit), m_model(m_options.dataDirectory),
      m_signer(m_options.signingSecret)
{
    // A client that hangs up while we write must not kill the test process.
    std::signal(SIGPIPE, SIG_IGN);
    addStorageRoutes(m_routes, m_model, m_signer,
                     StorageRouteOptions{m_options.requireSignedStorage, m_options.storageIgnoresExpect});
    addPageRoutes(m_routes, m_pageReports);
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC);
    if (m_wakeFd < 0)
        throw std::runtime_error("test service: eventfd failed");
    try {
        if (m_options.http)
            listen(false, m_options.httpPort);
        if (m_options.https)
            listen(true, m_options.httpsPort);
        for (const std::unique_ptr<Listener>& listener : m_listeners)
            listener->thread = std::thread([this, &listener] { acceptLoop(*listener); });
    } catch (...) {
        stop();
        throw;
    }
}

TestService::~TestService()
{
    stop();
}

void TestService::listen(bool secure, uint16_t port)
{
    auto listener = std::make_unique<Listener>();
    const Poco::Net::SocketAddress address("127.0.0.1", port);
    if (secure)
        listener->socket = Poco::Net::SecureServerSocket(address, 64, serverContext(m_options));
    else
        listener->socket = Poco::Net::ServerSocket(address, 64);
    // Non-blocking, so a client that gives up between poll and accept cannot hang the loop.
    listener->socket.setBlocking(false);
    listener->secure = secure;
    (secure ? m_httpsPort : m_httpPort) = listener->socket.address().port();
    m_listeners.push_back(std::move(listener));
}

void TestService::stop()
{
    if (m_stopped.exchange(true))
        return;
    m_stop.raise();
    if (m_wakeFd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wakeFd, &one, sizeof one);
    }
    for (const std::unique_ptr<Listener>& listener : m_listeners) {
        if (listener->thread.joinable())
            listener->thread.join();
        listener->socket.close();
    }
    // No new connection can start now; end the running ones wherever they wait.
    std::list<Worker> workers;
    {
        std::lock_guard<std::mutex> lock(m_workersMutex);
        for (const Worker& worker : m_workers) {
            if (worker.fd >= 0)
                ::shutdown(worker.fd, SHUT_RDWR);
        }
        workers.swap(m_workers);
    }
    for (Worker& worker : workers) {
        if (worker.thread.joinable())
            worker.thread.join();
    }
    if (m_wakeFd >= 0) {
        ::close(m_wakeFd);
        m_wakeFd = -1;
    }
}

void TestService::acceptLoop(Listener& listener)
{
    pollfd fds[2] = {{listener.socket.impl()->sockfd(), POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    while (true) {
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || fds[1].revents != 0)
            return;
        reapFinishedWorkers();
        if ((fds[0].revents & POLLIN) == 0)
            continue;
        try {
            Poco::Net::StreamSocket socket = listener.socket.acceptConnection();
            socket.setBlocking(true);
            // Answers go out in pieces (head, body); Nagle would hold them for the client's ACK.
            socket.setNoDelay(true);
            startConnection(std::move(socket), listener.secure);
        } catch (const Poco::Exception&) {
            // The client went away before we took it.
        }
    }
}

void TestService::startConnection(Poco::Net::StreamSocket socket, bool secure)
{
    std::lock_guard<std::mutex> lock(m_workersMutex);
    if (m_stop.raised())
        return;
    m_log.noteConnection();
    Worker& worker = m_workers.emplace_back();
    worker.id = ++m_nextConnectionId;
    worker.secure = secure;
    worker.socket = socket;
    worker.fd = socket.impl()->sockfd();
    worker.thread = std::thread([this, &worker] { serveConnection(worker); });
}

// The list node stays put until this thread is joined; its fields other than the socket
// change only under the lock.
void TestService::serveConnection(Worker& worker)
{
    ServiceContext context{m_routes, m_faults, m_log, m_stop, m_options.connectionRateBytesPerSecond};
    ServiceConnection(worker.socket, worker.id, worker.secure, context).run();
    {
        // Forget the descriptor before closing it: stop() must never shut down a reused one.
        std::lock_guard<std::mutex> lock(m_workersMutex);
        worker.fd = -1;
        worker.done = true;
    }
    try {
        worker.socket.close();
    } catch (const Poco::Exception&) {
    }
}

void TestService::reapFinishedWorkers()
{
    std::list<Worker> finished;
    {
        std::lock_guard<std::mutex> lock(m_workersMutex);
        for (auto it = m_workers.begin(); it != m_workers.end();) {
            auto next = std::next(it);
            if (it->done)
                finished.splice(finished.end(), m_workers, it);
            it = next;
        }
    }
    for (Worker& worker : finished)
        worker.thread.join();
}

std::string TestService::baseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(m_httpPort);
}

std::string TestService::secureBaseUrl() const
{
    return "https://127.0.0.1:" + std::to_string(m_httpsPort);
}

std::string TestService::url(const std::string& pathAndQuery, bool secure) const
{
    return (secure ? secureBaseUrl() : baseUrl()) + pathAndQuery;
}

std::string TestService::signedStorageUrl(const std::string& key, std::chrono::seconds validFor, bool secure) const
{
    return storageUrlUntil(key, UrlSigner::now() + validFor.count(), secure);
}

std::string TestService::storageUrlUntil(const std::string& key, int64_t expiresAt, bool secure) const
{
    const std::string path = storagePath(key);
    return url(path + "?" + m_signer.signQuery(path, expiresAt), secure);
}

std::string TestService::expiredStorageUrl(const std::string& key, bool secure) const
{
    return storageUrlUntil(key, UrlSigner::now() - 60, secure);
}

std::string TestService::redirectUrl(const std::string& target, bool secure) const
{
    std::string encoded;
    Poco::URI::encode(target, ":/?#[]@!$&'()*+,;=%", encoded);
    return url("/redirect?to=" + encoded, secure);
}

} // namespace fv_test
