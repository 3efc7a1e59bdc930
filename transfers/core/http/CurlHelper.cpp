#include "core/http/CurlHelper.h"

#include "core/log/FvTransfersLogger.h"

#include <Poco/NumberParser.h>
#include <Poco/String.h>
#include <Poco/StringTokenizer.h>
#include <Poco/URI.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <exception>
#include <limits>
#include <poll.h>
#include <sstream>

namespace fv_transfers {

namespace {

bool setOption(CURL* handle, CURLoption option, long value, const char* name)
{
    if (curl_easy_setopt(handle, option, value) == CURLE_OK)
        return true;
    FV_LOG_ERROR("Failed to set curl option " << name);
    return false;
}

bool setOption(CURL* handle, CURLoption option, const char* value, const char* name)
{
    if (curl_easy_setopt(handle, option, value) == CURLE_OK)
        return true;
    FV_LOG_ERROR("Failed to set curl option " << name);
    return false;
}

#define FV_SET_CURL_OPTION(handle, option, value)                                                                      \
    do {                                                                                                               \
        if (!setOption(handle, option, value, #option))                                                                \
            return dt_general_error;                                                                                   \
    } while (0)

bool activeSocket(CURL* handle, curl_socket_t& socket)
{
    const CURLcode code = curl_easy_getinfo(handle, CURLINFO_ACTIVESOCKET, &socket);
    if (code == CURLE_OK && socket != CURL_SOCKET_BAD)
        return true;
    FV_LOG_ERROR("Error calling curl_easy_getinfo with CURLINFO_ACTIVESOCKET: " << code);
    return false;
}

dt_error noActiveSocket(std::string& errorText)
{
    return curl_helper::fail(errorText, dt_general_error, "the connection has no socket");
}

// libcurl's own text for a failed perform, with the system's reason when libcurl has one and
// did not name it (a refused or unreachable connection).
std::string performErrorText(CURL* handle, CURLcode code, const char* errorBuffer)
{
    std::string text = errorBuffer[0] ? errorBuffer : curl_easy_strerror(code);
    long osError = 0;
    if (curl_easy_getinfo(handle, CURLINFO_OS_ERRNO, &osError) == CURLE_OK && osError != 0) {
        const std::string reason = std::strerror(static_cast<int>(osError));
        if (Poco::icompare(text, reason) != 0 && text.find(reason) == std::string::npos)
            text += " (" + reason + ")";
    }
    return text;
}

// Every Content-Length field and every member of a comma list must give the same number:
// otherwise the body's end is in doubt, and guessing it would let a response smuggle another.
bool foldContentLength(Poco::Net::HTTPResponse& response, std::string& problem)
{
    std::string value;
    for (const auto& field : response) {
        if (Poco::icompare(field.first, Poco::Net::HTTPMessage::CONTENT_LENGTH) != 0)
            continue;
        const Poco::StringTokenizer members(field.second, ",",
                                            Poco::StringTokenizer::TOK_TRIM | Poco::StringTokenizer::TOK_IGNORE_EMPTY);
        if (members.count() == 0) {
            problem = "empty Content-Length";
            return false;
        }
        for (const std::string& member : members) {
            Poco::UInt64 number = 0;
            if (member.find_first_not_of("0123456789") != std::string::npos ||
                !Poco::NumberParser::tryParseUnsigned64(member, number) ||
                number > static_cast<Poco::UInt64>(std::numeric_limits<Poco::Int64>::max())) {
                problem = "invalid Content-Length \"" + member + "\"";
                return false;
            }
            const std::string canonical = std::to_string(number);
            if (!value.empty() && value != canonical) {
                problem = "conflicting Content-Length values " + value + " and " + canonical;
                return false;
            }
            value = canonical;
        }
    }
    if (!value.empty()) {
        response.erase(Poco::Net::HTTPMessage::CONTENT_LENGTH);
        response.set(Poco::Net::HTTPMessage::CONTENT_LENGTH, value);
    }
    return true;
}

// Verifies the peer against the connection's store (an X509_STORE, which the SSL context takes
// a reference of) in place of the empty one libcurl made.
CURLcode useTrustStore(CURL*, void* sslContext, void* storeArgument)
{
    X509_STORE* store = static_cast<X509_STORE*>(storeArgument);
    if (!store)
        return CURLE_SSL_CACERT_BADFILE;
    SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(sslContext), store);
    return CURLE_OK;
}

// The system's CA bundle and directory that libcurl was built to use, as this handle holds them
// before they are cleared.
bool systemTrustSources(CURL* handle, TrustSources& sources)
{
    char* file = nullptr;
    char* path = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_CAINFO, &file) != CURLE_OK ||
        curl_easy_getinfo(handle, CURLINFO_CAPATH, &path) != CURLE_OK) {
        FV_LOG_ERROR("Cannot ask libcurl for its CA certificates locations");
        return false;
    }
    sources.systemFile = file ? file : "";
    sources.systemPath = path ? path : "";
    return true;
}

bool hasControlCharacter(const std::string& text)
{
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f; });
}

std::string hostHeader(const Poco::URI& uri)
{
    std::string host = uri.getHost();
    if (host.find(':') != std::string::npos)
        host = "[" + host + "]";
    const unsigned short defaultPort = uri.getScheme() == "https" ? 443 : 80;
    if (uri.getPort() != defaultPort)
        host += ":" + std::to_string(uri.getPort());
    return host;
}

} // namespace

int wait_on_socket(curl_socket_t socket, bool forReceive, long timeoutMs)
{
    if (socket == CURL_SOCKET_BAD) {
        FV_LOG_INFO("wait_on_socket: socket descriptor is -1. Connection seems to be closed.");
        return -1;
    }
    pollfd entry{};
    entry.fd = socket;
    entry.events = forReceive ? POLLIN : POLLOUT;
    const Poco::Clock start;
    for (;;) {
        const long remaining = std::max(0L, timeoutMs - curl_helper::elapsedMs(start));
        const int result = ::poll(&entry, 1, static_cast<int>(std::min<long>(remaining, INT_MAX)));
        if (result >= 0)
            return result;
        if (errno != EINTR)
            return -1;
    }
}

namespace curl_helper {

std::unique_ptr<CCurlHandleLease> getCurlHandle(const std::string& url)
{
    return CCurlHandleCache::getInstance().acquireHandle(Poco::URI(url).getHost());
}

dt_error setConnectOptions(CCurlHandleLease& lease, const std::string& url, int connectTimeoutMs)
{
    CURL* handle = lease.handle();
    FV_SET_CURL_OPTION(handle, CURLOPT_URL, url.c_str());
    FV_SET_CURL_OPTION(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    FV_SET_CURL_OPTION(handle, CURLOPT_CONNECT_ONLY, 1L);
    FV_SET_CURL_OPTION(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max(1, connectTimeoutMs)));
    FV_SET_CURL_OPTION(handle, CURLOPT_TCP_KEEPALIVE, 1L);
    FV_SET_CURL_OPTION(handle, CURLOPT_TCP_KEEPIDLE, 10L);
    FV_SET_CURL_OPTION(handle, CURLOPT_TCP_KEEPINTVL, 10L);
    FV_SET_CURL_OPTION(handle, CURLOPT_NOSIGNAL, 1L);
    if (CURLSH* share = CCurlHandleCache::getInstance().share())
        curl_easy_setopt(handle, CURLOPT_SHARE, share);
    if (logEnabled(LogLevel::trace)) {
        curl_easy_setopt(handle, CURLOPT_DEBUGFUNCTION, &debugCallback);
        curl_easy_setopt(handle, CURLOPT_VERBOSE, 1L);
    }
    return dt_success;
}

dt_error setSslOptions(CCurlHandleLease& lease, const std::string& caCertificatesFile,
                       CTrustStoreCache::Store& trustStore)
{
    CURL* handle = lease.handle();
    TrustSources sources;
    if (!systemTrustSources(handle, sources))
        return dt_general_error;
    sources.extraFile = caCertificatesFile;
    trustStore = CTrustStoreCache::getInstance().acquire(sources);
    if (!trustStore)
        return dt_general_error;
    FV_SET_CURL_OPTION(handle, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    FV_SET_CURL_OPTION(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    FV_SET_CURL_OPTION(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    // libcurl loads nothing itself: the store made from the same sources comes from the cache.
    // Its own cache stays off, it would only keep an empty store.
    FV_SET_CURL_OPTION(handle, CURLOPT_CAINFO, static_cast<const char*>(nullptr));
    FV_SET_CURL_OPTION(handle, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    FV_SET_CURL_OPTION(handle, CURLOPT_CA_CACHE_TIMEOUT, 0L);
    // A resumed TLS session is not verified again, and libcurl's session cache knows nothing of
    // the store we install: a session made while trusting the extra CA would let a connection
    // that does not trust it through. Only connections on the system store share sessions.
    if (!caCertificatesFile.empty())
        FV_SET_CURL_OPTION(handle, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    if (curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, &useTrustStore) != CURLE_OK) {
        FV_LOG_ERROR("Failed to set curl option CURLOPT_SSL_CTX_FUNCTION");
        return dt_general_error;
    }
    // libcurl reads the data only during curl_easy_perform, while the caller holds the store.
    if (curl_easy_setopt(handle, CURLOPT_SSL_CTX_DATA, trustStore.get()) != CURLE_OK) {
        FV_LOG_ERROR("Failed to set curl option CURLOPT_SSL_CTX_DATA");
        return dt_general_error;
    }
    return dt_success;
}

dt_error setProxyOptions(CCurlHandleLease& lease, const std::string& url, const IProxyLookup* proxyLookup)
{
    CURL* handle = lease.handle();
    ProxyConfig config;
    bool useProxy = false;
    try {
        useProxy = proxyLookup && proxyLookup->proxyFor(url, config);
    } catch (const std::exception& e) {
        FV_LOG_ERROR("curl_helper::setProxyOptions: Exception: " << e.what());
    }
    if (!useProxy) {
        // An empty proxy also keeps libcurl from reading proxy variables of its own.
        FV_SET_CURL_OPTION(handle, CURLOPT_PROXY, "");
        return dt_success;
    }
    const std::string proxy = config.proxyUri.toString();
    FV_LOG_INFO("Obtained proxy server URL: " << proxy);
    FV_SET_CURL_OPTION(handle, CURLOPT_PROXY, proxy.c_str());
    if (!config.userName.empty())
        FV_SET_CURL_OPTION(handle, CURLOPT_PROXYUSERNAME, config.userName.c_str());
    if (!config.password.empty())
        FV_SET_CURL_OPTION(handle, CURLOPT_PROXYPASSWORD, config.password.c_str());
    // Requests are written by us in origin form, so even http:// must go through a tunnel.
    FV_SET_CURL_OPTION(handle, CURLOPT_HTTPPROXYTUNNEL, 1L);
    return dt_success;
}

dt_error connect(CCurlHandleLease& lease, const std::string& url, const ConnectionSettings& settings,
                 int connectTimeoutMs, bool forceReconnect, std::string& errorText)
{
    CURL* handle = lease.handle();
    if (!handle)
        return fail(errorText, dt_general_error, "no curl easy handle");
    std::string scheme;
    try {
        scheme = Poco::URI(url).getScheme();
    } catch (const std::exception& e) {
        return fail(errorText, dt_general_error, std::string("invalid URL: ") + e.what());
    }
    if (scheme != "http" && scheme != "https")
        return fail(errorText, dt_general_error, "unsupported scheme " + scheme);
    // Nothing from an earlier connect on this handle (a proxy, its credentials) may stay in
    // force; the shared caches are set again with the options.
    curl_easy_reset(handle);
    CTrustStoreCache::Store trustStore;
    dt_error result = setConnectOptions(lease, url, connectTimeoutMs);
    if (result == dt_success && scheme == "https" &&
        setSslOptions(lease, settings.caCertificatesFile, trustStore) != dt_success)
        return fail(errorText, dt_general_error, "cannot set up the trusted certificates");
    if (result == dt_success)
        result = setProxyOptions(lease, url, settings.proxyLookup.get());
    if (result != dt_success)
        return fail(errorText, result, "cannot set the connection's options");
    if (forceReconnect)
        FV_LOG_ERROR("Force reconnect (" << forceReconnect << ") requested, requesting a fresh connection from CURL");
    FV_SET_CURL_OPTION(handle, CURLOPT_FRESH_CONNECT, forceReconnect ? 1L : 0L);

    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorBuffer);
    const Poco::Clock start;
    const CURLcode code = curl_easy_perform(handle);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, static_cast<char*>(nullptr));
    if (code != CURLE_OK)
        return fail(errorText, dt_general_error, performErrorText(handle, code, errorBuffer));
    FV_LOG_TRACE("TIMING: " << start.elapsed());
    return dt_success;
}

bool formatRequestHead(const std::string& url, const std::string& userAgent, Poco::Net::HTTPRequest& request,
                       std::string& head)
{
    try {
        const Poco::URI uri(url);
        const std::string target = uri.getPathAndQuery();
        request.setURI(target.empty() ? "/" : target);
        request.setVersion(Poco::Net::HTTPMessage::HTTP_1_1);
        request.setKeepAlive(true);
        if (request.get("User-Agent", "").empty())
            request.set("User-Agent", userAgent);
        request.setHost(hostHeader(uri));
        bool unsafe = hasControlCharacter(request.getMethod()) || hasControlCharacter(request.getURI()) ||
                      request.getURI().find(' ') != std::string::npos;
        for (const auto& field : request)
            unsafe = unsafe || hasControlCharacter(field.first) || hasControlCharacter(field.second);
        if (unsafe) {
            FV_LOG_ERROR("curl_helper::sendRequest: refusing a request with control characters");
            return false;
        }
        std::ostringstream out;
        request.write(out);
        head = out.str();
        return true;
    } catch (const std::exception& e) {
        FV_LOG_ERROR("curl_helper::sendRequest: Exception: " << e.what());
        return false;
    }
}

dt_error sendRequest(CCurlHandleLease& lease, const std::string& url, const std::string& userAgent,
                     Poco::Net::HTTPRequest& request, int sendTimeoutMs, curl_socket_t socket, std::string& errorText)
{
    std::string head;
    if (!formatRequestHead(url, userAgent, request, head)) {
        errorText = "the request cannot be sent safely";
        return dt_general_error;
    }
    FV_LOG_TRACE("Sending HTTP request: " << head);
    if ((socket == 0 || socket == CURL_SOCKET_BAD) && !activeSocket(lease.handle(), socket))
        return noActiveSocket(errorText);
    std::size_t offset = 0;
    while (offset < head.size()) {
        std::size_t sent = 0;
        const dt_error result =
            send(lease, socket, head.data() + offset, head.size() - offset, sent, sendTimeoutMs, errorText);
        if (result == dt_timeout)
            errorText = "the request head could not be sent within " + std::to_string(sendTimeoutMs) + " ms";
        if (result != dt_success)
            return result;
        offset += sent;
    }
    return dt_success;
}

dt_error receiveResponse(CCurlHandleLease& lease, Poco::Net::HTTPResponse& response, std::vector<char>& extraBytes,
                         int receiveTimeoutMs, curl_socket_t socket, std::string& errorText,
                         const std::function<dt_error()>& interrupted)
{
    if ((socket == 0 || socket == CURL_SOCKET_BAD) && !activeSocket(lease.handle(), socket))
        return noActiveSocket(errorText);
    std::string text(extraBytes.begin(), extraBytes.end());
    std::size_t searchFrom = 0;
    std::size_t headEnd = std::string::npos;
    // The idle time-out alone would let a peer that sends a byte now and then hold the request
    // for as long as the head cap allows; the whole head gets one time-out to start and one
    // more to arrive.
    const long headDeadlineMs = 2L * receiveTimeoutMs;
    const Poco::Clock start;
    Poco::Clock lastByte;
    char chunk[4096];
    for (;;) {
        const std::size_t terminator = text.find("\r\n\r\n", searchFrom);
        if (terminator != std::string::npos) {
            headEnd = terminator + 4;
            break;
        }
        if (text.size() >= kMaxResponseHeadSize)
            break;
        // Only the new bytes, plus three that may start a terminator, are searched next time.
        searchFrom = text.size() < 3 ? 0 : text.size() - 3;
        const long idleLeft = receiveTimeoutMs - elapsedMs(lastByte);
        const long headLeft = headDeadlineMs - elapsedMs(start);
        if (idleLeft <= 0)
            return fail(errorText, dt_timeout,
                        "no byte of the response head for " + std::to_string(receiveTimeoutMs) + " ms");
        if (headLeft <= 0)
            return fail(errorText, dt_timeout,
                        "the response head did not arrive within " + std::to_string(headDeadlineMs) + " ms");
        std::size_t received = 0;
        const long waitMs = std::min({idleLeft, headLeft, interrupted ? 1000L : idleLeft});
        const dt_error result =
            receive(lease, socket, chunk, sizeof chunk, received, static_cast<int>(waitMs), errorText);
        if (result == dt_timeout) {
            const dt_error stop = interrupted ? interrupted() : dt_success;
            if (stop != dt_success)
                return stop;
            continue; // the checks above say which time-out ran out
        }
        if (result != dt_success)
            return result;
        text.append(chunk, received);
        lastByte.update();
    }
    if (headEnd == std::string::npos || headEnd > kMaxResponseHeadSize)
        return fail(errorText, dt_general_error,
                    "response head exceeds " + std::to_string(kMaxResponseHeadSize) + " bytes");
    FV_LOG_TRACE("Received http response: " << text.substr(0, headEnd - 4));
    const dt_error parsed = parseResponseHead(text.substr(0, headEnd), response, errorText);
    if (parsed == dt_success)
        extraBytes.assign(text.begin() + static_cast<std::ptrdiff_t>(headEnd), text.end());
    return parsed;
}

dt_error parseResponseHead(const std::string& head, Poco::Net::HTTPResponse& response, std::string& errorText)
{
    std::string problem;
    try {
        response.clear();
        std::istringstream in(head);
        response.read(in);
        const int status = static_cast<int>(response.getStatus());
        if (status < 100 || status > 999 || response.getVersion().compare(0, 7, "HTTP/1.") != 0)
            problem = "status line";
        else if (foldContentLength(response, problem) && response.has(Poco::Net::HTTPMessage::CONTENT_LENGTH) &&
                 response.getContentLength64() < 0)
            problem = "negative Content-Length";
    } catch (const std::exception& e) {
        problem = e.what();
    }
    if (problem.empty())
        return dt_success;
    return fail(errorText, dt_general_error, "malformed response head: " + problem);
}

dt_error waitForRoom(curl_socket_t socket, int timeoutMs, std::string& errorText)
{
    const int ready = wait_on_socket(socket, false, timeoutMs);
    if (ready > 0)
        return dt_success;
    if (ready == 0)
        return dt_timeout;
    return fail(errorText, dt_general_error, "error waiting on the socket while sending");
}

dt_error send(CCurlHandleLease& lease, curl_socket_t socket, const char* data, std::size_t size, std::size_t& sent,
              int timeoutMs, std::string& errorText)
{
    sent = 0;
    const Poco::Clock start;
    for (;;) {
        std::size_t count = 0;
        const CURLcode code = curl_easy_send(lease.handle(), data, size, &count);
        if (code == CURLE_OK || (code == CURLE_AGAIN && count > 0)) {
            sent = count;
            return dt_success;
        }
        if (code != CURLE_AGAIN)
            return fail(errorText, dt_network_error, std::string("send failed: ") + curl_easy_strerror(code));
        const long remaining = timeoutMs - elapsedMs(start);
        const int ready = remaining > 0 ? wait_on_socket(socket, false, remaining) : 0;
        if (ready == 0) {
            FV_LOG_DEBUG("Timed out when waiting for socket!");
            return dt_timeout;
        }
        if (ready < 0)
            return fail(errorText, dt_general_error, "error waiting on the socket while sending");
    }
}

dt_error receive(CCurlHandleLease& lease, curl_socket_t socket, char* buffer, std::size_t size, std::size_t& received,
                 int timeoutMs, std::string& errorText)
{
    received = 0;
    if (size == 0)
        return dt_success;
    const Poco::Clock start;
    for (;;) {
        std::size_t count = 0;
        const CURLcode code = curl_easy_recv(lease.handle(), buffer + received, size - received, &count);
        if (code == CURLE_OK && count > 0) {
            received += count;
            if (received == size)
                return dt_success;
            continue;
        }
        if (code == CURLE_AGAIN) {
            if (received > 0)
                return dt_success;
            const long remaining = timeoutMs - elapsedMs(start);
            const int ready = remaining > 0 ? wait_on_socket(socket, true, remaining) : 0;
            if (ready == 0) {
                FV_LOG_DEBUG("Timed out when waiting for socket, timeoutMs: " << timeoutMs);
                return dt_timeout;
            }
            if (ready < 0)
                return fail(errorText, dt_general_error, "error waiting on the socket while receiving");
            continue;
        }
        // Bytes that arrived before a close or an error are delivered first; the next call
        // reports what ended the stream.
        if (received > 0)
            return dt_success;
        if (code == CURLE_OK || code == CURLE_UNSUPPORTED_PROTOCOL) {
            FV_LOG_DEBUG("curl_easy_recv: connection closed by the peer");
            errorText = "connection closed by the peer";
            return dt_connection_closed;
        }
        return fail(errorText, dt_network_error, std::string("receive failed: ") + curl_easy_strerror(code));
    }
}

dt_error fail(std::string& errorText, dt_error code, const std::string& text)
{
    FV_LOG_ERROR(text);
    errorText = text;
    return code;
}

int debugCallback(CURL*, curl_infotype type, char* data, size_t size, void*)
{
    // Payload events would put bodies and TLS records in the log.
    if (type == CURLINFO_TEXT || type == CURLINFO_HEADER_IN || type == CURLINFO_HEADER_OUT)
        FV_LOG_TRACE("[CURL] Type: " << static_cast<int>(type) << ". Msg: " << std::string(data, size));
    return 0;
}

long elapsedMs(const Poco::Clock& since)
{
    return static_cast<long>(since.elapsed() / 1000);
}

} // namespace curl_helper
} // namespace fv_transfers
