#pragma once

#include "support/service/PathPattern.h"
#include "support/service/ServiceMessages.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace fv_test {

// One way to misbehave on one request. Build it with the factory functions.
struct Fault {
    enum class Kind {
        Status,        // answer `status` with `body` (of `contentType`) instead of calling the route
        Delay,         // wait `delayMs`, then serve normally
        Stall,         // read the head, then never answer until the service stops
        CloseMidHead,  // send `atByte` bytes of the response head, then close (0: no byte at all)
        CloseMidBody,  // send the head and `atByte` bytes of the body, then close
        StallMidBody,  // send the head and `atByte` bytes of the body, then send nothing more and
                       // keep the connection until the client closes it or the service stops
        Trickle,       // send the response `pieceBytes` at a time, `delayMs` apart
        MalformedHead, // send `raw` instead of a response, then close
        WrongEtag,     // serve normally with a wrong (but well-formed) ETag
        Chunked,       // send the body chunked with the sizes in `chunkSizes` (the last repeats)
        ShortChunked,  // as Chunked, but only `atByte` bytes of the body before the last chunk: a
                       // well-formed body shorter than the head promised
        CutChunked,    // send the body chunked with `chunkSizes` (`body` instead of the route's
                       // when not empty), only `atByte` bytes of it and no last chunk, then close
        HugeLength,    // declare Content-Length `declaredLength`, send the real body, close
        Mutate,        // let `mutate` change the route's response before it is sent
        // Request side: the route is not called and no answer is sent. Both read the body
        // after "100 Continue" when the client asked for it.
        CloseMidRequest, // read `atByte` bytes of the request body, then close
        StallRequest,    // read `atByte` bytes of the request body, then read nothing more
                         // (and answer nothing) until the service stops
    };
    static constexpr size_t kHalf = static_cast<size_t>(-1);

    Kind kind = Kind::Status;
    int status = 500;
    std::string body;
    std::string contentType = "text/plain";
    unsigned delayMs = 0;
    size_t atByte = kHalf; // kHalf: half of the head or body (of the request body for request faults)
    size_t pieceBytes = 1;
    std::string raw;
    std::vector<size_t> chunkSizes;
    uint64_t declaredLength = 0;
    std::function<void(ServiceResponse&)> mutate;

    // Also serves wrong bodies with any status: an HTML error page, malformed JSON with 200.
    static Fault statusCode(int status, std::string body = "injected fault", std::string contentType = "text/plain");
    static Fault delay(unsigned ms);
    static Fault stall();
    static Fault closeMidHead(size_t atByte = kHalf);
    static Fault closeMidBody(size_t atByte = kHalf);
    static Fault stallMidBody(size_t atByte = kHalf);
    static Fault trickle(size_t pieceBytes, unsigned intervalMs);
    static Fault malformedHead(std::string raw = "HTTP/1.1 two hundred OK\r\nno colon here\r\n\r\n");
    static Fault wrongEtag();
    static Fault chunked(std::vector<size_t> chunkSizes);
    static Fault shortChunked(size_t atByte, std::vector<size_t> chunkSizes = {});
    static Fault cutChunked(size_t atByte, std::vector<size_t> chunkSizes = {}, std::string body = "");
    static Fault hugeLength(uint64_t declaredLength = uint64_t(1) << 40);
    static Fault mutateResponse(std::function<void(ServiceResponse&)> change);
    // A Mutate that inverts the body's byte `at` (a body that short is left alone); the status
    // and the headers stay, so only a digest can tell.
    static Fault flipBodyByte(uint64_t at);
    static Fault closeMidRequest(size_t atByte = kHalf);
    static Fault stallRequest(size_t atByte = kHalf);
};

// Which requests get a fault: those with `method` (empty: any) whose raw path matches
// `path` (a PathPattern) and, with whenHeader, that carry the header; of those, the `nth`
// (1-based) and the `times - 1` after it (`times` 0: every one from the `nth` on). Each rule
// counts its own matches, so with a header condition "the nth" is the nth request that has
// the header, however the requests of other channels on the same path interleave:
//   FaultRule{"GET", "/storage/*", 2, 1, Fault::closeMidBody()}.whenHeader("Range", "bytes=16777216-")
struct FaultRule {
    FaultRule() = default;
    FaultRule(std::string method, std::string path, unsigned nth, unsigned times, Fault fault);

    // A copy that matches only requests whose `name` header (without case) has a value that
    // starts with `valuePrefix`; an empty prefix asks only for the header to be present.
    FaultRule whenHeader(std::string name, std::string valuePrefix) const;
    bool matchesHeaders(const HttpHeaders& headers) const;

    std::string method;
    std::string path = "*";
    unsigned nth = 1;
    unsigned times = 1;
    Fault fault;
    std::string headerName; // empty: any request
    std::string headerPrefix;
};

// The faults in force. Every matching rule counts a request; the first rule added that
// fires decides the fault.
class FaultPlan {
public:
    void add(FaultRule rule);
    void clear();
    std::optional<Fault> take(const std::string& method, const std::string& path, const HttpHeaders& headers);

private:
    struct Entry {
        FaultRule rule;
        PathPattern pattern;
        unsigned seen = 0;
    };

    std::mutex m_mutex;
    std::vector<Entry> m_entries;
};

} // namespace fv_test
