#pragma once

#include "support/service/ConnectionRateLimiter.h"
#include "support/service/FaultPlan.h"
#include "support/service/RequestLog.h"
#include "support/service/RouteTable.h"
#include "support/service/ServiceRequest.h"
#include "support/service/StopSignal.h"

#include <Poco/Net/StreamSocket.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace fv_test {

// What every connection of one service shares; each part is thread-safe.
struct ServiceContext {
    RouteTable& routes;
    FaultPlan& faults;
    RequestLog& log;
    const StopSignal& stop;
    uint64_t rateBytesPerSecond = 0; // each direction of each connection; 0: no cap
};

// One accepted connection (plain or TLS): reads HTTP/1.1 requests with its own parser, so
// the raw target and the header order survive, dispatches them to the routes, applies the
// fault planned for each request and writes the answer byte by byte as the fault asks.
// Keep-alive until the client closes, a fault or an error ends it, or the service stops.
class ServiceConnection : private RequestBodySource {
public:
    static constexpr size_t kMaxHeadBytes = 64 * 1024;

    ServiceConnection(Poco::Net::StreamSocket socket, uint64_t id, bool secure, ServiceContext& context);

    // Serves until the connection ends; never throws. The caller closes the socket.
    void run();

private:
    bool serveOne();
    bool serveLogged(const RequestHead& head);
    void finishLogged();
    bool readHead(std::string& head);
    void dispatch(const RequestHead& head, ServiceResponse& response);
    bool finishBody(bool& keepAlive);
    bool writeResponse(const RequestHead& head, ServiceResponse& response, const std::optional<Fault>& fault,
                       bool keepAlive);
    bool writeBody(ServiceResponse& response, uint64_t limit, const std::optional<Fault>& fault);
    void holdUntilClosed();
    bool sendRaw(const char* data, size_t size);
    bool sendRaw(const std::string& data) { return sendRaw(data.data(), data.size()); }
    bool sendCapped(const char* data, size_t size);
    size_t receive(char* buffer, size_t max);

    size_t readBody(char* buffer, size_t max) override;
    void ignoreExpectContinue() override;
    void readBodyPrefix(uint64_t count);
    void answerContinue();

    Poco::Net::StreamSocket m_socket;
    const uint64_t m_id;
    const bool m_secure;
    ServiceContext& m_context;
    ConnectionRateLimiter m_sendRate;
    ConnectionRateLimiter m_readRate; // request bodies only

    std::string m_pending; // bytes received past the current head
    uint64_t m_bodyRemaining = 0;
    bool m_expectContinue = false;
    bool m_continueSent = false; // or, with m_ignoreExpect, deliberately left unsent
    bool m_ignoreExpect = false;
    size_t m_logIndex = 0;
    bool m_logOpen = false;    // the logged request still waits for the last bytes of its answer
    size_t m_tricklePiece = 0; // non-zero while a trickle fault shapes the output
    unsigned m_trickleIntervalMs = 0;
    bool m_trickleBegun = false; // a body piece went out: the next one waits, also across writes
};

} // namespace fv_test
