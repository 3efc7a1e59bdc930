#pragma once

#include "support/service/FaultPlan.h"
#include "support/service/PageReports.h"
#include "support/service/RequestLog.h"
#include "support/service/RouteTable.h"
#include "support/service/ServiceModel.h"
#include "support/service/StopSignal.h"
#include "support/service/UrlSigner.h"

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace fv_test {

struct TestServiceOptions {
    bool http = true;
    uint16_t httpPort = 0; // 0: any free port
    bool https = false;
    uint16_t httpsPort = 0;
    // The HTTPS identity; empty: the test CA's server certificate for 127.0.0.1/localhost.
    std::string certificateFile;
    std::string privateKeyFile;
    // Empty: objects in memory. Otherwise a folder for benchmark-sized objects.
    std::string dataDirectory;
    // Storage requests without a valid signature are refused (403).
    bool requireSignedStorage = true;
    // Storage uploads never answer "100 Continue" (see StorageRouteOptions::ignoreExpect).
    bool storageIgnoresExpect = false;
    // Caps each direction of each connection (answers sent, request bodies read) to this many
    // bytes per second, after bursts of up to 64 KiB; 0: no cap. Faults shape on top of it.
    uint64_t connectionRateBytesPerSecond = 0;
    // Body bytes kept per logged request (all bytes are still counted).
    size_t bodyCaptureLimit = 16 * 1024 * 1024;
    std::string signingSecret = "fv-test-signing-secret";
};

// The project's test service, in-process: HTTP and/or HTTPS on 127.0.0.1, serving from the
// construction until stop() or destruction. It is the one server the tests and benchmarks
// talk to; each test makes its own.
//
//   TestService service;                              // HTTP on a free port
//   TestServiceOptions options;
//   options.https = true;
//   TestService secure(options);                      // HTTPS with the test CA's certificate
//   service.routes().add("POST", "/api/v2/bucket/{bucketId}/file", handler);
//   service.faults().add({"GET", "/storage/*", 2, 1, Fault::closeMidBody()});
//   service.log().forPath("/storage/a")[0].headers.fields();
//   service.waitForPageReport([](const Json::Value& r) { return r["call"] == "scenario-done"; }, 10s);
//
// Routing: RouteTable maps method + PathPattern to a handler that reads a ServiceRequest and
// fills a ServiceResponse; an unknown path gets 404, a known path with another method 405, a
// handler that throws 500. Built-in route sets are installed by the constructor (storage:
// see StorageRoutes.h); a further set (the REST interface, the help desk) is one more
// add...Routes(m_routes, m_model, ...) call there. Handlers share one ServiceModel: the
// object store and the REST records behind ServiceModel::withState.
//
// The test page (see PageRoutes.h) is served at /app; what it reports is kept for the test.
//
// Faults: FaultPlan rules pick requests by method, path pattern, an optional header and
// ordinal; see Fault for the kinds, on the answer and on the request body. Log: RequestLog
// (waitForRequests and waitForBodyBytes let a test wait for a stalled request or reader).
//
// Wire: each connection has its own thread and a small HTTP/1.1 parser (see
// ServiceConnection), so the log keeps the raw request-target and the header order, and a
// Fault can shape the answer byte by byte. Keep-alive is honoured; chunked requests are not
// accepted (501).
//
// SIGPIPE is ignored process-wide once a service starts (TLS writes cannot ask otherwise).
// Stopping shuts down every connection socket (stalled, trickling and idle keep-alive ones
// included), wakes every wait and joins every thread before stop() returns.
class TestService {
public:
    explicit TestService(TestServiceOptions options = TestServiceOptions());
    ~TestService();
    TestService(const TestService&) = delete;
    TestService& operator=(const TestService&) = delete;

    // Idempotent. Never call it from a route handler (it joins the handler's own thread).
    void stop();

    uint16_t httpPort() const { return m_httpPort; }
    uint16_t httpsPort() const { return m_httpsPort; }
    // "http://127.0.0.1:<port>" and "https://127.0.0.1:<port>" (no trailing slash).
    std::string baseUrl() const;
    std::string secureBaseUrl() const;
    // The base URL of the given scheme followed by `pathAndQuery`.
    std::string url(const std::string& pathAndQuery, bool secure = false) const;

    RouteTable& routes() { return m_routes; }
    ServiceModel& model() { return m_model; }
    RequestLog& log() { return m_log; }
    FaultPlan& faults() { return m_faults; }
    const UrlSigner& signer() const { return m_signer; }

    // What the test page reported so far, in order of arrival.
    std::vector<Json::Value> pageReports() const { return m_pageReports.all(); }
    // The first page report satisfying `predicate`, waiting up to `timeout` for it.
    std::optional<Json::Value> waitForPageReport(const PageReports::Predicate& predicate,
                                                 std::chrono::milliseconds timeout) const
    {
        return m_pageReports.waitFor(predicate, timeout);
    }

    // Storage URLs for an object key (letters, digits and "-_./" are safe as they are).
    std::string storagePath(const std::string& key) const { return "/storage/" + key; }
    std::string signedStorageUrl(const std::string& key, std::chrono::seconds validFor, bool secure = false) const;
    // A URL valid until `expiresAt` (Unix seconds): refused from that second on.
    std::string storageUrlUntil(const std::string& key, int64_t expiresAt, bool secure = false) const;
    // A URL whose signature expired a minute ago.
    std::string expiredStorageUrl(const std::string& key, bool secure = false) const;
    // A URL of this service that answers 302 to `target`.
    std::string redirectUrl(const std::string& target, bool secure = false) const;

private:
    struct Listener {
        Poco::Net::ServerSocket socket;
        bool secure = false;
        std::thread thread;
    };
    // The worker holds the connection's socket, so the socket is released only after its
    // thread was joined (Poco's reference counts are invisible to the thread sanitizer).
    struct Worker {
        uint64_t id = 0;
        bool secure = false;
        Poco::Net::StreamSocket socket;
        int fd = -1; // -1 once the connection closed its socket
        bool done = false;
        std::thread thread;
    };

    void listen(bool secure, uint16_t port);
    void acceptLoop(Listener& listener);
    void startConnection(Poco::Net::StreamSocket socket, bool secure);
    void serveConnection(Worker& worker);
    void reapFinishedWorkers();

    const TestServiceOptions m_options;
    RouteTable m_routes;
    FaultPlan m_faults;
    RequestLog m_log;
    ServiceModel m_model;
    UrlSigner m_signer;
    PageReports m_pageReports;
    StopSignal m_stop;

    int m_wakeFd = -1; // an eventfd that ends the accept loops
    std::vector<std::unique_ptr<Listener>> m_listeners;
    uint16_t m_httpPort = 0;
    uint16_t m_httpsPort = 0;

    std::mutex m_workersMutex;
    std::list<Worker> m_workers;
    uint64_t m_nextConnectionId = 0;
    std::atomic<bool> m_stopped{false};
};

} // namespace fv_test
