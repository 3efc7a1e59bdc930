#pragma once

#include "core/base/DtError.h"
#include "core/base/ServiceDefaults.h"
#include "core/http/ConnectionSettings.h"
#include "core/http/CurlHandleCache.h"

#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Clock.h>

#include <curl/curl.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fv_transfers {

// One HTTP connection over a libcurl handle of its own in connect-only mode. Used by one thread
// at a time. Time-outs are idle time-outs: send and receive fail only after a whole time-out
// passed without a byte moving in that direction; each call waits at most one second, so
// callers regain control regularly (a 0-byte dt_success means "nothing yet, call again").
// A response head must also be complete within twice the receive time-out.
// A failed step leaves its cause in lastErrorText(): many failures share a code, and retry
// decisions and the log need to tell them apart.
class CCurlConnection {
public:
    // The most plaintext one TLS record carries. Each send over TLS ends its last record, so a
    // body sent in pieces that are whole multiples of it goes out in full records only; any
    // other size adds a short record per piece, which costs the receiver a read and a decrypt
    // of its own.
    static constexpr std::size_t kTlsRecordPayload = 16384;
    // The most one send hands to TLS at a time (see send).
    static constexpr std::size_t kTlsSendPiece = 4 * kTlsRecordPayload;

    // The settings of the library's configuration at construction.
    CCurlConnection();
    explicit CCurlConnection(ConnectionSettings settings);
    ~CCurlConnection();
    CCurlConnection(const CCurlConnection&) = delete;
    CCurlConnection& operator=(const CCurlConnection&) = delete;

    // Connects to the URL, replacing any earlier connection.
    dt_error connect(const std::string& url, bool forceReconnect);
    // Resets both activity timers and sends the request head for `url`.
    dt_error sendRequest(Poco::Net::HTTPRequest& request);
    // Sends the whole buffer, looping over idle slices; for bodies held in memory.
    dt_error sendAll(const char* data, std::size_t size);
    // Over TLS at most kTlsSendPiece bytes, and only once the socket has room for them: a
    // record the socket takes in part reaches the receiver in two pieces, two reads and two
    // wake-ups. The kernel reports room when a third of the send buffer is free, so a few
    // records fit whole; curl's own transfer loop writes the same way.
    dt_error send(const char* data, std::size_t size, std::size_t& sent);
    dt_error receive(char* buffer, std::size_t size, std::size_t& received);
    dt_error receiveResponse(Poco::Net::HTTPResponse& response, std::vector<char>& extraBytes);
    // Closes the connection and frees the handle; the peer sees the close.
    void disconnect();
    // For a connection left mid-request: the same as disconnect, as no handle is used twice.
    void discard();

    const ConnectionSettings& settings() const { return m_settings; }
    // Why the last failed step failed ("SSL certificate problem: ...", "Failed to connect ...
    // (Connection refused)", "malformed response head: ..."); empty when none failed since
    // connect began. Kept across disconnect, so that it can be read after a failure.
    const std::string& lastErrorText() const { return m_lastErrorText; }
    // For the readers of this connection's answers: records `text` as the cause, logs it and
    // returns `code`.
    dt_error fail(dt_error code, const std::string& text);

    std::unique_ptr<CCurlHandleLease> lease;
    curl_socket_t socket = CURL_SOCKET_BAD;
    std::string url;
    Poco::Clock lastSendActivity;
    Poco::Clock lastReceiveActivity;
    int connectTimeoutMs = kDefaultConnectTimeoutMs;
    int sendTimeoutMs = kDefaultSendTimeoutMs;
    int receiveTimeoutMs = kDefaultReceiveTimeoutMs;
    // Asked whenever send, receive or receiveResponse waited a slice without a byte: true ends
    // the call with dt_interrupted. A channel hands in its state, so that a stop or a pause
    // reaches a stalled transfer within a slice instead of after the idle time-out. Empty: never.
    std::function<bool()> interrupted;

private:
    // dt_interrupted, with its cause recorded, when `interrupted` asks for it; else dt_success.
    dt_error checkInterrupted();
    void resetActivity();
    // dt_success while less than `timeoutMs` passed since `lastActivity`, else dt_timeout.
    dt_error idleTimeout(const Poco::Clock& lastActivity, int timeoutMs, const char* what);

    ConnectionSettings m_settings;
    std::string m_lastErrorText;
    bool m_secure = false; // the connection speaks TLS
};

// Disconnects the connection when the scope ends (channel run loops).
class disconnectOnExit {
public:
    explicit disconnectOnExit(CCurlConnection* connection) : m_connection(connection) {}
    ~disconnectOnExit();
    disconnectOnExit(const disconnectOnExit&) = delete;
    disconnectOnExit& operator=(const disconnectOnExit&) = delete;

private:
    CCurlConnection* m_connection;
};

} // namespace fv_transfers
