#pragma once

#include "support/service/ServiceMessages.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace fv_test {

// One request as it arrived. `body` holds the bytes the service read, up to the capture
// limit; `bodyBytes` counts them all.
struct LoggedRequest {
    uint64_t connectionId = 0;
    bool secure = false;
    std::string method;
    std::string target; // raw request-target
    std::string path;   // raw, up to '?'
    std::string version;
    HttpHeaders headers;
    std::string body;
    uint64_t bodyBytes = 0;
    // Order of the log's open and finish events; finishedAt 0 while the answer is still due.
    uint64_t openedAt = 0;
    uint64_t finishedAt = 0;
};

// What the service saw, for tests to read. Entries are added when a head is parsed (so a
// stalled request is visible) and their bodies grow as the body is read.
class RequestLog {
public:
    explicit RequestLog(size_t bodyCaptureLimit) : m_captureLimit(bodyCaptureLimit) {}

    std::vector<LoggedRequest> all() const;
    // Only those of `method`, when one is given.
    std::vector<LoggedRequest> forPath(const std::string& path, const std::string& method = "") const;
    size_t size() const;
    // Distinct connections that carried a request for `path`.
    size_t connectionCount(const std::string& path) const;
    // Connections accepted, with or without a request on them.
    size_t connectionsAccepted() const;
    // Waits until at least `count` requests have arrived; false on time-out.
    bool waitForRequests(size_t count, std::chrono::milliseconds timeout) const;
    // Waits until the service has read at least `bytes` body bytes of one request for `path`;
    // false on time-out.
    bool waitForBodyBytes(const std::string& path, uint64_t bytes, std::chrono::milliseconds timeout) const;
    // The most requests whose path starts with `prefix` (and of `method`, when not empty) that
    // were open at one time. A request counts from its head until the service starts sending the
    // last bytes of its answer, so a client never sees one end after the next has begun.
    size_t maxInFlight(const std::string& prefix, const std::string& method = "") const;
    void clear();

    // For the service.
    size_t begin(LoggedRequest request);
    void appendBody(size_t index, const char* data, size_t size);
    // The answer to request `index` is on its last bytes or was given up; later calls do nothing.
    void finish(size_t index);
    void noteConnection();

private:
    const size_t m_captureLimit;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<LoggedRequest> m_requests;
    size_t m_cleared = 0; // entries dropped by clear(), so indices stay valid
    size_t m_connections = 0;
    uint64_t m_events = 0;
};

} // namespace fv_test
