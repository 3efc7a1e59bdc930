#include "core/http/CurlConnection.h"

#include "core/http/CurlHelper.h"
#include "core/log/FvTransfersLogger.h"

#include <Poco/String.h>

#include <algorithm>
#include <exception>
#include <utility>

namespace fv_transfers {

namespace {

// The wait for one call: what is left of the idle time-out, at most one second.
int sliceMs(const Poco::Clock& lastActivity, int timeoutMs)
{
    return static_cast<int>(std::clamp(timeoutMs - curl_helper::elapsedMs(lastActivity), 0L, 1000L));
}

} // namespace

CCurlConnection::CCurlConnection() : CCurlConnection(connectionSettingsFromConfig()) {}

CCurlConnection::CCurlConnection(ConnectionSettings settings) : m_settings(std::move(settings)) {}

CCurlConnection::~CCurlConnection()
{
    disconnect();
}

void CCurlConnection::resetActivity()
{
    lastSendActivity.update();
    lastReceiveActivity.update();
}

dt_error CCurlConnection::connect(const std::string& newUrl, bool forceReconnect)
{
    m_lastErrorText.clear();
    std::unique_ptr<CCurlHandleLease> newLease;
    try {
        // Taken before the old lease goes back, so a reconnect never gets the handle it gives up.
        newLease = curl_helper::getCurlHandle(newUrl);
    } catch (const std::exception& e) {
        return fail(dt_general_error, std::string("no curl handle for the connection: ") + e.what());
    }
    disconnect();
    lease = std::move(newLease);
    url = newUrl;
    m_secure = Poco::icompare(url.substr(0, 6), "https:") == 0;
    const dt_error result =
        curl_helper::connect(*lease, url, m_settings, connectTimeoutMs, forceReconnect, m_lastErrorText);
    if (result != dt_success)
        return result;
    curl_socket_t active = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(lease->handle(), CURLINFO_ACTIVESOCKET, &active) != CURLE_OK || active == CURL_SOCKET_BAD)
        return fail(dt_general_error, "the connection has no socket");
    socket = active;
    resetActivity();
    return dt_success;
}

dt_error CCurlConnection::sendRequest(Poco::Net::HTTPRequest& request)
{
    if (!lease)
        return dt_not_connected;
    resetActivity();
    return curl_helper::sendRequest(*lease, url, m_settings.userAgent, request, sendTimeoutMs, socket, m_lastErrorText);
}

dt_error CCurlConnection::sendAll(const char* data, std::size_t size)
{
    std::size_t offset = 0;
    while (offset < size) {
        std::size_t sent = 0;
        const dt_error result = send(data + offset, size - offset, sent);
        if (result != dt_success)
            return result;
        offset += sent;
    }
    return dt_success;
}

dt_error CCurlConnection::send(const char* data, std::size_t size, std::size_t& sent)
{
    sent = 0;
    if (!lease)
        return dt_not_connected;
    const Poco::Clock start;
    const int waitMs = sliceMs(lastSendActivity, sendTimeoutMs);
    dt_error result = dt_success;
    if (m_secure) {
        size = std::min(size, kTlsSendPiece);
        result = curl_helper::waitForRoom(socket, waitMs, m_lastErrorText);
    }
    if (result == dt_success)
        result = curl_helper::send(*lease, socket, data, size, sent, sliceMs(start, waitMs), m_lastErrorText);
    if (sent == 0 && (result == dt_success || result == dt_timeout) && checkInterrupted() != dt_success)
        return dt_interrupted;
    if (result == dt_timeout)
        return idleTimeout(lastSendActivity, sendTimeoutMs, "nothing could be sent");
    if (sent > 0)
        lastSendActivity.update();
    return result;
}

dt_error CCurlConnection::receive(char* buffer, std::size_t size, std::size_t& received)
{
    received = 0;
    if (!lease)
        return dt_not_connected;
    const dt_error result = curl_helper::receive(*lease, socket, buffer, size, received,
                                                 sliceMs(lastReceiveActivity, receiveTimeoutMs), m_lastErrorText);
    if (received > 0)
        lastReceiveActivity.update();
    else if ((result == dt_success || result == dt_timeout) && checkInterrupted() != dt_success)
        return dt_interrupted;
    if (result == dt_timeout)
        return idleTimeout(lastReceiveActivity, receiveTimeoutMs, "nothing was received");
    return result;
}

dt_error CCurlConnection::receiveResponse(Poco::Net::HTTPResponse& response, std::vector<char>& extraBytes)
{
    if (!lease)
        return dt_not_connected;
    resetActivity();
    const dt_error result = curl_helper::receiveResponse(*lease, response, extraBytes, receiveTimeoutMs, socket,
                                                         m_lastErrorText, [this] { return checkInterrupted(); });
    if (result == dt_success)
        lastReceiveActivity.update();
    return result;
}

void CCurlConnection::disconnect()
{
    // Giving the lease back frees the handle, which closes the connection.
    url.clear();
    lease.reset();
    socket = CURL_SOCKET_BAD;
}

void CCurlConnection::discard()
{
    disconnect();
}

disconnectOnExit::~disconnectOnExit()
{
    if (m_connection)
        m_connection->disconnect();
}

dt_error CCurlConnection::fail(dt_error code, const std::string& text)
{
    return curl_helper::fail(m_lastErrorText, code, text);
}

dt_error CCurlConnection::checkInterrupted()
{
    if (!interrupted || !interrupted())
        return dt_success;
    // Not logged as a failure: the caller asked for it.
    m_lastErrorText = "interrupted by a state change";
    return dt_interrupted;
}

dt_error CCurlConnection::idleTimeout(const Poco::Clock& lastActivity, int timeoutMs, const char* what)
{
    if (curl_helper::elapsedMs(lastActivity) < timeoutMs)
        return dt_success;
    return fail(dt_timeout, std::string(what) + " for " + std::to_string(timeoutMs) + " ms");
}

} // namespace fv_transfers
