#include "core/http/CurlConnection.h"

#include "core/http/CurlHelper.h"
#include "core/log/FvTransfersLogger.h"

#include <algorithm>
#include <exception>

namespace fv_transfers {

namespace {

long elapsedMs(const Poco::Timestamp& since)
{
    return static_cast<long>(since.elapsed() / 1000);
}

// The wait for one call: what is left of the idle time-out, at most one second.
int sliceMs(const Poco::Timestamp& lastActivity, int timeoutMs)
{
    return static_cast<int>(std::clamp(timeoutMs - elapsedMs(lastActivity), 0L, 1000L));
}

} // namespace

CCurlConnection::CCurlConnection() = default;

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
    std::unique_ptr<CCurlHandleLease> newLease;
    try {
        // Taken before the old lease goes back, so a reconnect never gets the handle it gives up.
        newLease = curl_helper::getCurlHandle(newUrl);
    } catch (const std::exception& e) {
        FV_LOG_ERROR("CCurlConnection::connect: Exception: " << e.what());
        return dt_general_error;
    }
    disconnect();
    lease = std::move(newLease);
    url = newUrl;
    const dt_error result = curl_helper::connect(*lease, url, connectTimeoutMs, forceReconnect);
    if (result != dt_success)
        return result;
    curl_socket_t active = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(lease->handle(), CURLINFO_ACTIVESOCKET, &active) != CURLE_OK || active == CURL_SOCKET_BAD) {
        FV_LOG_ERROR("Error calling curl_easy_getinfo with CURLINFO_ACTIVESOCKET");
        return dt_general_error;
    }
    socket = active;
    resetActivity();
    return dt_success;
}

dt_error CCurlConnection::sendRequest(Poco::Net::HTTPRequest& request)
{
    if (!lease)
        return dt_not_connected;
    resetActivity();
    return curl_helper::sendRequest(*lease, url, request, sendTimeoutMs, socket);
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
    const dt_error result =
        curl_helper::send(*lease, socket, data, size, sent, sliceMs(lastSendActivity, sendTimeoutMs));
    if (result == dt_timeout)
        return elapsedMs(lastSendActivity) >= sendTimeoutMs ? dt_timeout : dt_success;
    if (sent > 0)
        lastSendActivity.update();
    return result;
}

dt_error CCurlConnection::receive(char* buffer, std::size_t size, std::size_t& received)
{
    received = 0;
    if (!lease)
        return dt_not_connected;
    const dt_error result =
        curl_helper::receive(*lease, socket, buffer, size, received, sliceMs(lastReceiveActivity, receiveTimeoutMs));
    if (received > 0)
        lastReceiveActivity.update();
    if (result == dt_timeout)
        return elapsedMs(lastReceiveActivity) >= receiveTimeoutMs ? dt_timeout : dt_success;
    return result;
}

dt_error CCurlConnection::receiveResponse(Poco::Net::HTTPResponse& response, std::vector<char>& extraBytes)
{
    if (!lease)
        return dt_not_connected;
    resetActivity();
    const dt_error result = curl_helper::receiveResponse(*lease, response, extraBytes, receiveTimeoutMs, socket);
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

} // namespace fv_transfers
