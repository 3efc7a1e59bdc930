#pragma once

#include "support/service/PathPattern.h"
#include "support/service/ServiceMessages.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace fv_test {

// The parsed request line and header block, exactly as received.
struct RequestHead {
    std::string method;
    std::string target; // raw request-target, never decoded
    std::string version;
    HttpHeaders headers;

    std::string path() const;  // the target up to '?', raw
    std::string query() const; // after '?', raw
};

// Where a request's body comes from; the connection implements it.
class RequestBodySource {
public:
    virtual ~RequestBodySource() = default;
    // Up to `max` body bytes, 0 at the end. The first read answers "100 Continue" when the
    // client asked for it and the body is not empty.
    virtual size_t readBody(char* buffer, size_t max) = 0;
    // From now on this request's body is read without ever answering "100 Continue", as a
    // server that does not know the expectation does.
    virtual void ignoreExpectContinue() = 0;
};

// A request as a route handler sees it. The body is read on demand, so a handler can refuse
// a request (for example an expired signature) without making the client send its body.
class ServiceRequest {
public:
    ServiceRequest(const RequestHead& head, uint64_t connectionId, bool secure, RequestBodySource& body);

    const std::string& method() const { return m_head.method; }
    const std::string& target() const { return m_head.target; }
    const std::string& version() const { return m_head.version; }
    const HttpHeaders& headers() const { return m_head.headers; }
    const std::string& path() const { return m_path; }
    const std::string& query() const { return m_query; }
    uint64_t connectionId() const { return m_connectionId; }
    bool secure() const { return m_secure; }

    // Values captured by the route's pattern, raw.
    const RouteParams& params() const { return m_params; }
    std::string param(const std::string& name) const;
    void setParams(RouteParams params) { m_params = std::move(params); }

    // A query parameter percent-decoded, or empty when absent.
    std::string queryParam(const std::string& name) const;
    bool hasQueryParam(const std::string& name) const;

    // Streams the body; 0 at the end.
    size_t readBody(char* buffer, size_t max) { return m_body.readBody(buffer, max); }
    void ignoreExpectContinue() { m_body.ignoreExpectContinue(); }
    // The whole body; throws std::length_error beyond `limit` bytes.
    std::string readWholeBody(size_t limit = 64 * 1024 * 1024);

private:
    const RequestHead& m_head;
    std::string m_path;
    std::string m_query;
    uint64_t m_connectionId;
    bool m_secure;
    RequestBodySource& m_body;
    RouteParams m_params;
};

} // namespace fv_test
