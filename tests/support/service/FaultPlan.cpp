#include "support/service/FaultPlan.h"

#include <memory>

namespace fv_test {

namespace {

Fault ofKind(Fault::Kind kind)
{
    Fault fault;
    fault.kind = kind;
    return fault;
}

// The faults that cut a head or a body after some of its bytes.
Fault cutAt(Fault::Kind kind, size_t atByte)
{
    Fault fault = ofKind(kind);
    fault.atByte = atByte;
    return fault;
}

// Passes a streamed body on with one byte inverted.
class FlippedByteSource : public BodySource {
public:
    FlippedByteSource(std::unique_ptr<BodySource> body, uint64_t at) : m_body(std::move(body)), m_at(at) {}
    size_t read(char* buffer, size_t max) override
    {
        const size_t got = m_body->read(buffer, max);
        if (m_at >= m_offset && m_at - m_offset < got)
            buffer[m_at - m_offset] = static_cast<char>(~buffer[m_at - m_offset]);
        m_offset += got;
        return got;
    }

private:
    std::unique_ptr<BodySource> m_body;
    const uint64_t m_at;
    uint64_t m_offset = 0;
};

} // namespace

Fault Fault::statusCode(int code, std::string content, std::string contentType)
{
    Fault fault = ofKind(Kind::Status);
    fault.status = code;
    fault.body = std::move(content);
    fault.contentType = std::move(contentType);
    return fault;
}

Fault Fault::delay(unsigned ms)
{
    Fault fault = ofKind(Kind::Delay);
    fault.delayMs = ms;
    return fault;
}

Fault Fault::stall()
{
    return ofKind(Kind::Stall);
}

Fault Fault::closeMidHead(size_t atByte)
{
    return cutAt(Kind::CloseMidHead, atByte);
}

Fault Fault::closeMidBody(size_t atByte)
{
    return cutAt(Kind::CloseMidBody, atByte);
}

Fault Fault::stallMidBody(size_t atByte)
{
    return cutAt(Kind::StallMidBody, atByte);
}

Fault Fault::trickle(size_t pieceBytes, unsigned intervalMs)
{
    Fault fault = ofKind(Kind::Trickle);
    fault.pieceBytes = pieceBytes == 0 ? 1 : pieceBytes;
    fault.delayMs = intervalMs;
    return fault;
}

Fault Fault::malformedHead(std::string rawBytes)
{
    Fault fault = ofKind(Kind::MalformedHead);
    fault.raw = std::move(rawBytes);
    return fault;
}

Fault Fault::wrongEtag()
{
    return ofKind(Kind::WrongEtag);
}

Fault Fault::chunked(std::vector<size_t> sizes)
{
    Fault fault = ofKind(Kind::Chunked);
    fault.chunkSizes = std::move(sizes);
    return fault;
}

Fault Fault::shortChunked(size_t atByte, std::vector<size_t> sizes)
{
    Fault fault = cutAt(Kind::ShortChunked, atByte);
    fault.chunkSizes = std::move(sizes);
    return fault;
}

Fault Fault::cutChunked(size_t atByte, std::vector<size_t> sizes, std::string body)
{
    Fault fault = cutAt(Kind::CutChunked, atByte);
    fault.chunkSizes = std::move(sizes);
    fault.body = std::move(body);
    return fault;
}

Fault Fault::hugeLength(uint64_t declared)
{
    Fault fault = ofKind(Kind::HugeLength);
    fault.declaredLength = declared;
    return fault;
}

Fault Fault::mutateResponse(std::function<void(ServiceResponse&)> change)
{
    Fault fault = ofKind(Kind::Mutate);
    fault.mutate = std::move(change);
    return fault;
}

Fault Fault::flipBodyByte(uint64_t at)
{
    return mutateResponse([at](ServiceResponse& response) {
        if (response.stream)
            response.stream = std::make_unique<FlippedByteSource>(std::move(response.stream), at);
        else if (at < response.body.size())
            response.body[at] = static_cast<char>(~response.body[at]);
    });
}

Fault Fault::closeMidRequest(size_t atByte)
{
    return cutAt(Kind::CloseMidRequest, atByte);
}

Fault Fault::stallRequest(size_t atByte)
{
    return cutAt(Kind::StallRequest, atByte);
}

FaultRule::FaultRule(std::string methodName, std::string pathPattern, unsigned nthMatch, unsigned timesInRow,
                     Fault planned)
    : method(std::move(methodName)), path(std::move(pathPattern)), nth(nthMatch), times(timesInRow),
      fault(std::move(planned))
{
}

FaultRule FaultRule::whenHeader(std::string name, std::string valuePrefix) const
{
    FaultRule rule = *this;
    rule.headerName = std::move(name);
    rule.headerPrefix = std::move(valuePrefix);
    return rule;
}

bool FaultRule::matchesHeaders(const HttpHeaders& headers) const
{
    if (headerName.empty())
        return true;
    return headers.has(headerName) && headers.get(headerName).compare(0, headerPrefix.size(), headerPrefix) == 0;
}

void FaultPlan::add(FaultRule rule)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    PathPattern pattern(rule.path);
    m_entries.push_back(Entry{std::move(rule), std::move(pattern), 0});
}

void FaultPlan::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
}

std::optional<Fault> FaultPlan::take(const std::string& method, const std::string& path, const HttpHeaders& headers)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::optional<Fault> chosen;
    for (Entry& entry : m_entries) {
        const FaultRule& rule = entry.rule;
        if ((!rule.method.empty() && rule.method != method) || !entry.pattern.match(path) ||
            !rule.matchesHeaders(headers))
            continue;
        const unsigned seen = ++entry.seen;
        const bool fires = seen >= rule.nth && (rule.times == 0 || seen - rule.nth < rule.times);
        if (fires && !chosen)
            chosen = rule.fault;
    }
    return chosen;
}

} // namespace fv_test
