#pragma once

#include "core/base/DtError.h"
#include "core/http/ConnectionSettings.h"
#include "core/http/CurlHandleCache.h"
#include "core/http/TrustStoreCache.h"

#include <Poco/Clock.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>

#include <curl/curl.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fv_transfers {

// Waits until the socket is readable (forReceive) or writable, or has an error or hang-up.
// Returns 0 when the time-out passed, -1 on error, a positive value when ready. Uses poll,
// so descriptors above FD_SETSIZE work.
int wait_on_socket(curl_socket_t socket, bool forReceive, long timeoutMs);

// Requests are written by the library itself over a connect-only libcurl connection. Each step
// returns a dt_error and, when it fails, puts the cause in `errorText` (an idle slice that
// ends with dt_timeout from send or receive is no failure and leaves it alone).
namespace curl_helper {

// A response head larger than this is refused.
constexpr std::size_t kMaxResponseHeadSize = 64 * 1024;

// Milliseconds since `since`, on the monotonic clock: a wall-clock step neither fires nor
// stretches a time-out.
long elapsedMs(const Poco::Clock& since);

// A lease on a new handle for the URL's host; throws CCurlHandleCreateFailedException.
std::unique_ptr<CCurlHandleLease> getCurlHandle(const std::string& url);

// Opens the TCP (and TLS) connection with the CA file and proxy of `settings`, which must live
// until it returns. On failure the text is libcurl's (a refused connection, an untrusted
// certificate), the code dt_general_error.
dt_error connect(CCurlHandleLease& lease, const std::string& url, const ConnectionSettings& settings,
                 int connectTimeoutMs, bool forceReconnect, std::string& errorText);

// Writes the request head: origin-form target, HTTP/1.1, "Connection: Keep-Alive",
// `userAgent` unless the request has a "User-Agent", "Host" with the port unless it is the
// scheme's default. The caller sends any body afterwards.
dt_error sendRequest(CCurlHandleLease& lease, const std::string& url, const std::string& userAgent,
                     Poco::Net::HTTPRequest& request, int sendTimeoutMs, curl_socket_t socket, std::string& errorText);

// The request head exactly as sendRequest sends it; false when it cannot be sent safely
// (control characters in the target or a header).
bool formatRequestHead(const std::string& url, const std::string& userAgent, Poco::Net::HTTPRequest& request,
                       std::string& head);

// Reads and parses a response head. `extraBytes` holds, on entry, bytes already read from the
// connection and not consumed (usually none), and on success the bytes read past the head.
// dt_timeout when no byte came for `receiveTimeoutMs`, or when the whole head took more than
// twice that. With `interrupted`, the wait is cut into slices of at most a second, and a
// non-success from it after an empty slice ends the read with that result.
dt_error receiveResponse(CCurlHandleLease& lease, Poco::Net::HTTPResponse& response, std::vector<char>& extraBytes,
                         int receiveTimeoutMs, curl_socket_t socket, std::string& errorText,
                         const std::function<dt_error()>& interrupted = {});

// Parses a complete head, terminator included. Malformed heads, among them differing
// Content-Length values, give dt_general_error; equal ones are folded into one field.
dt_error parseResponseHead(const std::string& head, Poco::Net::HTTPResponse& response, std::string& errorText);

// Waits at most `timeoutMs` for the socket to take more bytes: dt_success, dt_timeout, or
// dt_general_error when the wait itself failed.
dt_error waitForRoom(curl_socket_t socket, int timeoutMs, std::string& errorText);
// One wait of at most `timeoutMs` and at most one successful curl_easy_send; `sent` may be
// less than `size`. dt_timeout with sent 0 when the socket stayed unwritable.
dt_error send(CCurlHandleLease& lease, curl_socket_t socket, const char* data, std::size_t size, std::size_t& sent,
              int timeoutMs, std::string& errorText);

// Receives what is available, up to `size` bytes, waiting at most `timeoutMs` for the first.
// A peer's close yields dt_connection_closed once every byte before it was delivered.
dt_error receive(CCurlHandleLease& lease, curl_socket_t socket, char* buffer, std::size_t size, std::size_t& received,
                 int timeoutMs, std::string& errorText);

dt_error setConnectOptions(CCurlHandleLease& lease, const std::string& url, int connectTimeoutMs);
// Peer and host verification against the system store plus `caCertificatesFile`, from a store
// of the process-wide cache; `trustStore` holds it and must live until the connect returns. Fails
// when no store can be had.
dt_error setSslOptions(CCurlHandleLease& lease, const std::string& caCertificatesFile,
                       CTrustStoreCache::Store& trustStore);
// The proxy that the lookup names for the URL, or explicitly none; a proxy is always
// tunnelled with CONNECT.
dt_error setProxyOptions(CCurlHandleLease& lease, const std::string& url, const IProxyLookup* proxyLookup);

// Logs `text` as an error, keeps it in `errorText` and returns `code`.
dt_error fail(std::string& errorText, dt_error code, const std::string& text);

int debugCallback(CURL* handle, curl_infotype type, char* data, size_t size, void* userData);

} // namespace curl_helper
} // namespace fv_transfers
