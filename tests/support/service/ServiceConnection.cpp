#include "support/service/ServiceConnection.h"

#include <Poco/Exception.h>
#include <Poco/NumberParser.h>
#include <Poco/Net/HTTPResponse.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <sys/socket.h>

namespace fv_test {

namespace {

constexpr size_t kBlock = 64 * 1024;

std::string trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The request line and fields up to (not including) the empty line; false when malformed.
bool parseHead(const std::string& text, RequestHead& head)
{
    size_t lineEnd = text.find("\r\n");
    const std::string requestLine = text.substr(0, lineEnd);
    const size_t firstSpace = requestLine.find(' ');
    const size_t lastSpace = requestLine.rfind(' ');
    if (firstSpace == std::string::npos || firstSpace == 0 || lastSpace <= firstSpace + 1)
        return false;
    head.method = requestLine.substr(0, firstSpace);
    head.target = requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1);
    head.version = requestLine.substr(lastSpace + 1);
    // A target with spaces in it is kept: clients that insert values raw are what tests look for.
    if (head.version.compare(0, 7, "HTTP/1.") != 0)
        return false;
    while (lineEnd != std::string::npos && lineEnd + 2 < text.size()) {
        const size_t start = lineEnd + 2;
        lineEnd = text.find("\r\n", start);
        const std::string line = text.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
        const size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0 || line.find_first_of(" \t") < colon)
            return false;
        head.headers.add(line.substr(0, colon), trim(line.substr(colon + 1)));
    }
    return true;
}

std::string statusLine(const ServiceResponse& response)
{
    const std::string reason = response.reason.empty()
                                   ? Poco::Net::HTTPResponse::getReasonForStatus(
                                         static_cast<Poco::Net::HTTPResponse::HTTPStatus>(response.status))
                                   : response.reason;
    return "HTTP/1.1 " + std::to_string(response.status) + " " + reason + "\r\n";
}

std::string serializeHead(const ServiceResponse& response)
{
    std::string head = statusLine(response);
    for (const HttpHeaders::Field& field : response.headers.fields())
        head += field.first + ": " + field.second + "\r\n";
    return head + "\r\n";
}

// A well-formed ETag that is certainly not the right one.
std::string wrongEtag(std::string etag)
{
    const size_t digit = etag.find_first_of("0123456789abcdefABCDEF");
    if (digit == std::string::npos)
        return "\"00000000000000000000000000000000\"";
    etag[digit] = etag[digit] == '0' ? '1' : '0';
    return etag;
}

size_t limitFor(size_t atByte, uint64_t total)
{
    return atByte == Fault::kHalf ? static_cast<size_t>(total / 2)
                                  : static_cast<size_t>(std::min<uint64_t>(atByte, total));
}

// Cuts a body into the chunk sizes asked for (the last size repeats; the remainder is the
// last chunk) and frames each chunk.
class Chunker {
public:
    explicit Chunker(std::vector<size_t> sizes) : m_sizes(std::move(sizes))
    {
        if (m_sizes.empty())
            m_sizes.push_back(kBlock);
        for (size_t& size : m_sizes)
            size = std::max<size_t>(size, 1);
    }

    // Appends body bytes; calls `emit` with each whole chunk, framed.
    template <typename Emit> bool add(const char* data, size_t size, Emit&& emit)
    {
        m_buffer.append(data, size);
        while (m_buffer.size() >= currentSize()) {
            const size_t chunk = currentSize();
            if (!emit(frame(m_buffer.substr(0, chunk))))
                return false;
            m_buffer.erase(0, chunk);
            m_next = std::min(m_next + 1, m_sizes.size() - 1);
        }
        return true;
    }

    template <typename Emit> bool finish(Emit&& emit)
    {
        if (!m_buffer.empty() && !emit(frame(m_buffer)))
            return false;
        return emit("0\r\n\r\n");
    }

private:
    size_t currentSize() const { return m_sizes[m_next]; }
    static std::string frame(const std::string& data)
    {
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", data.size());
        return size + data + "\r\n";
    }

    std::vector<size_t> m_sizes;
    size_t m_next = 0;
    std::string m_buffer;
};

} // namespace

ServiceConnection::ServiceConnection(Poco::Net::StreamSocket socket, uint64_t id, bool secure, ServiceContext& context)
    : m_socket(std::move(socket)), m_id(id), m_secure(secure), m_context(context),
      m_sendRate(context.rateBytesPerSecond, context.stop), m_readRate(context.rateBytesPerSecond, context.stop)
{
}

void ServiceConnection::run()
{
    try {
        while (!m_context.stop.raised() && serveOne()) {
        }
    } catch (...) {
        // A peer that vanished or a TLS failure ends the connection; the caller closes it.
    }
}

bool ServiceConnection::serveOne()
{
    std::string text;
    if (!readHead(text))
        return false;
    RequestHead head;
    if (!parseHead(text, head)) {
        ServiceResponse response;
        response.setBody(400, "malformed request head", "text/plain");
        writeResponse(head, response, std::nullopt, false);
        return false;
    }
    m_bodyRemaining = 0;
    m_continueSent = false;
    m_ignoreExpect = false;
    m_expectContinue = equalsIgnoreCase(head.headers.get("Expect"), "100-continue");
    m_tricklePiece = 0;
    m_trickleBegun = false;
    m_logIndex = m_context.log.begin(
        LoggedRequest{m_id, m_secure, head.method, head.target, head.path(), head.version, head.headers, {}, 0});
    m_logOpen = true;
    const bool keepAlive = serveLogged(head);
    finishLogged();
    return keepAlive;
}

void ServiceConnection::finishLogged()
{
    if (!m_logOpen)
        return;
    m_logOpen = false;
    m_context.log.finish(m_logIndex);
}

bool ServiceConnection::serveLogged(const RequestHead& head)
{
    ServiceResponse response;
    const std::string contentLength = head.headers.get("Content-Length");
    Poco::UInt64 declared = 0;
    if (head.headers.has("Transfer-Encoding")) {
        response.setBody(501, "chunked requests are not supported", "text/plain");
        writeResponse(head, response, std::nullopt, false);
        return false;
    }
    if (!contentLength.empty() && !Poco::NumberParser::tryParseUnsigned64(contentLength, declared)) {
        response.setBody(400, "bad Content-Length", "text/plain");
        writeResponse(head, response, std::nullopt, false);
        return false;
    }
    m_bodyRemaining = declared;

    const std::optional<Fault> fault = m_context.faults.take(head.method, head.path(), head.headers);
    bool callRoute = true;
    if (fault) {
        switch (fault->kind) {
        case Fault::Kind::Stall: m_context.stop.wait(); return false;
        case Fault::Kind::Delay:
            if (m_context.stop.waitFor(std::chrono::milliseconds(fault->delayMs)))
                return false;
            break;
        case Fault::Kind::Status:
            response.setBody(fault->status, fault->body, fault->contentType);
            callRoute = false;
            break;
        case Fault::Kind::MalformedHead: sendRaw(fault->raw); return false;
        case Fault::Kind::CloseMidRequest: readBodyPrefix(limitFor(fault->atByte, m_bodyRemaining)); return false;
        case Fault::Kind::StallRequest:
            readBodyPrefix(limitFor(fault->atByte, m_bodyRemaining));
            m_context.stop.wait();
            return false;
        default: break;
        }
    }
    if (callRoute)
        dispatch(head, response);
    if (fault && fault->kind == Fault::Kind::WrongEtag)
        response.headers.set("ETag", wrongEtag(response.headers.get("ETag")));
    if (fault && fault->kind == Fault::Kind::Mutate && fault->mutate)
        fault->mutate(response);
    if (fault && fault->kind == Fault::Kind::CutChunked && !fault->body.empty())
        response.body = fault->body;

    const std::string connection = head.headers.get("Connection");
    bool keepAlive = !response.close && !equalsIgnoreCase(connection, "close") &&
                     (head.version != "HTTP/1.0" || equalsIgnoreCase(connection, "keep-alive"));
    if (!finishBody(keepAlive))
        return false;
    return writeResponse(head, response, fault, keepAlive) && keepAlive;
}

bool ServiceConnection::readHead(std::string& head)
{
    std::string& data = m_pending;
    size_t searchFrom = 0;
    while (true) {
        const size_t end = data.find("\r\n\r\n", searchFrom);
        if (end != std::string::npos) {
            head = data.substr(0, end + 2);
            data.erase(0, end + 4);
            return true;
        }
        if (data.size() > kMaxHeadBytes) {
            ServiceResponse response;
            response.setBody(431, "request head too large", "text/plain");
            writeResponse(RequestHead{}, response, std::nullopt, false);
            return false;
        }
        searchFrom = data.size() < 3 ? 0 : data.size() - 3;
        char buffer[4096];
        const size_t got = receive(buffer, sizeof buffer);
        if (got == 0)
            return false;
        data.append(buffer, got);
    }
}

void ServiceConnection::dispatch(const RequestHead& head, ServiceResponse& response)
{
    const std::string path = head.path();
    std::optional<RouteTable::Match> match = m_context.routes.find(head.method, path);
    if (!match) {
        const bool known = m_context.routes.knowsPath(path);
        response.setBody(known ? 405 : 404, known ? "method not allowed" : "no such route", "text/plain");
        return;
    }
    ServiceRequest request(head, m_id, m_secure, *this);
    request.setParams(std::move(match->params));
    try {
        match->handler(request, response);
    } catch (const std::exception& error) {
        response = ServiceResponse();
        response.setBody(500, std::string("handler failed: ") + error.what(), "text/plain");
        response.close = true;
    }
}

// A body the handler left unread is consumed, so the connection can carry the next request;
// unless the client still waits for "100 Continue" and has not sent it at all.
bool ServiceConnection::finishBody(bool& keepAlive)
{
    if (m_bodyRemaining == 0)
        return true;
    if (m_expectContinue && !m_continueSent) {
        keepAlive = false;
        return true;
    }
    char buffer[16384];
    while (readBody(buffer, sizeof buffer) > 0) {
    }
    return true;
}

bool ServiceConnection::writeResponse(const RequestHead& head, ServiceResponse& response,
                                      const std::optional<Fault>& fault, bool keepAlive)
{
    const Fault::Kind kind = fault ? fault->kind : Fault::Kind::Mutate;
    const bool chunked =
        fault && (kind == Fault::Kind::Chunked || kind == Fault::Kind::ShortChunked || kind == Fault::Kind::CutChunked);
    const bool huge = fault && kind == Fault::Kind::HugeLength;
    if (fault && kind == Fault::Kind::Trickle) {
        m_tricklePiece = fault->pieceBytes;
        m_trickleIntervalMs = fault->delayMs;
    }
    if (chunked) {
        response.headers.remove("Content-Length");
        response.headers.set("Transfer-Encoding", "chunked");
    } else {
        response.headers.set("Content-Length", std::to_string(huge ? fault->declaredLength : response.bodyLength()));
    }
    response.headers.set("Connection", keepAlive && !huge ? "keep-alive" : "close");
    const std::string text = serializeHead(response);

    if (fault && kind == Fault::Kind::CloseMidHead) {
        sendRaw(text.data(), limitFor(fault->atByte, text.size()));
        return false;
    }
    if (head.method == "HEAD" || response.bodyLength() == 0)
        finishLogged();
    if (!sendRaw(text))
        return false;
    m_trickleBegun = false; // the head and the body's first piece leave together
    if (head.method == "HEAD")
        return true;
    if (fault && kind == Fault::Kind::CloseMidBody) {
        writeBody(response, limitFor(fault->atByte, response.bodyLength()), std::nullopt);
        return false;
    }
    if (fault && kind == Fault::Kind::StallMidBody) {
        if (writeBody(response, limitFor(fault->atByte, response.bodyLength()), std::nullopt))
            holdUntilClosed();
        return false;
    }
    if (fault && kind == Fault::Kind::CutChunked) {
        writeBody(response, limitFor(fault->atByte, response.bodyLength()), fault);
        return false;
    }
    const uint64_t bodyBytes = fault && kind == Fault::Kind::ShortChunked
                                   ? limitFor(fault->atByte, response.bodyLength())
                                   : response.bodyLength();
    return writeBody(response, bodyBytes, fault) && !huge;
}

bool ServiceConnection::writeBody(ServiceResponse& response, uint64_t limit, const std::optional<Fault>& fault)
{
    std::optional<Chunker> chunker;
    if (fault && (fault->kind == Fault::Kind::Chunked || fault->kind == Fault::Kind::ShortChunked ||
                  fault->kind == Fault::Kind::CutChunked))
        chunker.emplace(fault->chunkSizes);
    const auto emit = [this](const std::string& bytes) { return sendRaw(bytes); };

    uint64_t sent = 0;
    std::string block;
    while (sent < limit) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kBlock, limit - sent));
        size_t got = 0;
        if (response.stream) {
            block.resize(want);
            got = response.stream->read(block.data(), want);
        } else {
            block.assign(response.body, static_cast<size_t>(sent), want);
            got = block.size();
        }
        if (got == 0)
            return false; // the source ended before its declared length
        if (sent + got >= limit)
            finishLogged();
        const bool ok = chunker ? chunker->add(block.data(), got, emit) : sendRaw(block.data(), got);
        if (!ok)
            return false;
        sent += got;
    }
    // A cut answer never gets its last chunk.
    return chunker && fault->kind != Fault::Kind::CutChunked ? chunker->finish(emit) : true;
}

bool ServiceConnection::sendRaw(const char* data, size_t size)
{
    try {
        while (size > 0) {
            const size_t piece = m_tricklePiece ? std::min(size, m_tricklePiece) : size;
            // The pause comes before each piece of the body but the first, so pieces as large as
            // a block are spaced too.
            if (m_tricklePiece && m_trickleBegun &&
                m_context.stop.waitFor(std::chrono::milliseconds(m_trickleIntervalMs)))
                return false;
            const size_t sent = std::min<size_t>(piece, kBlock);
            if (!sendCapped(data, sent))
                return false;
            m_trickleBegun = true;
            data += sent;
            size -= sent;
        }
        return true;
    } catch (const Poco::Exception&) {
        return false;
    }
}

// All of `size` bytes, as fast as the connection's rate cap lets them go.
bool ServiceConnection::sendCapped(const char* data, size_t size)
{
    while (size > 0) {
        const size_t allowed = m_sendRate.allow(size);
        if (allowed == 0)
            return false;
        const int sent = m_socket.sendBytes(data, static_cast<int>(allowed), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        m_sendRate.consume(static_cast<size_t>(sent));
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

size_t ServiceConnection::receive(char* buffer, size_t max)
{
    const int got = m_socket.receiveBytes(buffer, static_cast<int>(std::min<size_t>(max, kBlock)));
    return got > 0 ? static_cast<size_t>(got) : 0;
}

// Stopping the service shuts the socket down, which ends the read as a client close does.
void ServiceConnection::holdUntilClosed()
{
    char buffer[4096];
    try {
        while (!m_context.stop.raised() && receive(buffer, sizeof buffer) > 0) {
        }
    } catch (const Poco::Exception&) {
    }
}

// Exactly `count` body bytes (fewer only when the body is shorter), logged as they arrive.
void ServiceConnection::readBodyPrefix(uint64_t count)
{
    answerContinue();
    char buffer[16384];
    while (count > 0) {
        const size_t got = readBody(buffer, static_cast<size_t>(std::min<uint64_t>(count, sizeof buffer)));
        if (got == 0)
            return;
        count -= got;
    }
}

void ServiceConnection::answerContinue()
{
    if (m_bodyRemaining == 0 || !m_expectContinue || m_continueSent)
        return;
    m_continueSent = true;
    if (!m_ignoreExpect && !sendRaw(std::string("HTTP/1.1 100 Continue\r\n\r\n")))
        throw std::runtime_error("cannot send 100 Continue");
}

void ServiceConnection::ignoreExpectContinue()
{
    m_ignoreExpect = true;
}

size_t ServiceConnection::readBody(char* buffer, size_t max)
{
    if (m_bodyRemaining == 0 || max == 0)
        return 0;
    answerContinue();
    const size_t want = static_cast<size_t>(std::min<uint64_t>(max, m_bodyRemaining));
    size_t got = 0;
    if (!m_pending.empty()) {
        got = std::min(want, m_pending.size());
        m_pending.copy(buffer, got);
        m_pending.erase(0, got);
    } else {
        const size_t allowed = m_readRate.allow(want);
        if (allowed == 0)
            throw std::runtime_error("the service stopped in the middle of the body");
        got = receive(buffer, allowed);
        if (got == 0)
            throw std::runtime_error("the client closed in the middle of the body");
        m_readRate.consume(got);
    }
    m_bodyRemaining -= got;
    m_context.log.appendBody(m_logIndex, buffer, got);
    return got;
}

} // namespace fv_test
