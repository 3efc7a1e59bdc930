#include "shell/FeedFetcher.h"

#include <Poco/Exception.h>
#include <Poco/Net/Context.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/HTTPSClientSession.h>
#include <Poco/Net/NetSSL.h>
#include <Poco/String.h>
#include <Poco/URI.h>

#include <istream>
#include <string>
#include <utility>
#include <vector>

namespace ferrovan {

namespace {

// Balances Poco's process-wide TLS set-up for the time of one fetch.
class SslScope {
public:
    SslScope() { Poco::Net::initializeSSL(); }
    ~SslScope() { Poco::Net::uninitializeSSL(); }
    SslScope(const SslScope&) = delete;
    SslScope& operator=(const SslScope&) = delete;
};

Poco::Net::Context::Ptr verifyingContext(const std::string& caFile)
{
    Poco::Net::Context::Params params;
    params.caLocation = caFile;
    params.loadDefaultCAs = true;
    params.verificationMode = Poco::Net::Context::VERIFY_RELAXED;
    params.verificationDepth = 9;
    return new Poco::Net::Context(Poco::Net::Context::TLS_CLIENT_USE, params);
}

// The socket waits for each receive; this bounds their sum, so a host that sends a byte now and
// then cannot hold the fetch (and the exit that waits for it) for ever.
class FetchDeadline {
public:
    explicit FetchDeadline(std::chrono::milliseconds timeout)
        : m_timeout(timeout), m_end(std::chrono::steady_clock::now() + timeout)
    {
    }

    // Lets the next receive wait only for what is left; throws once nothing is.
    void limit(Poco::Net::HTTPSession& session) const
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(m_end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            throw FeedFetchFailed("the update feed took longer than " + std::to_string(m_timeout.count()) + " ms");
        session.socket().setReceiveTimeout(Poco::Timespan(left.count()));
    }

private:
    std::chrono::milliseconds m_timeout;
    std::chrono::steady_clock::time_point m_end;
};

// One receive per round (peek fills the stream's buffer once, readsome takes what came), so
// the deadline is checked between any two receives.
std::string readCapped(std::istream& body, Poco::Net::HTTPSession& session, const FetchDeadline& deadline,
                       std::size_t maxBytes)
{
    // The stream would turn a failed receive into a quiet end, leaving a cut feed.
    body.exceptions(std::ios::badbit);
    std::string content;
    std::vector<char> buffer(16 * 1024);
    while (true) {
        deadline.limit(session);
        if (body.peek() == std::char_traits<char>::eof())
            break;
        const std::streamsize got = body.readsome(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        content.append(buffer.data(), static_cast<std::size_t>(got));
        if (content.size() > maxBytes)
            throw FeedFetchFailed("the update feed is larger than " + std::to_string(maxBytes) + " bytes");
    }
    return content;
}

} // namespace

FeedFetcher::FeedFetcher(std::string caFile, Limits limits) : m_caFile(std::move(caFile)), m_limits(limits) {}

std::string FeedFetcher::fetch(const std::string& url) const
{
    Poco::URI uri;
    try {
        uri = Poco::URI(url);
    } catch (const Poco::Exception& e) {
        throw FeedFetchFailed("the update feed's address is not valid: " + e.displayText());
    }
    // A feed that anyone on the path can rewrite could point the user at any download.
    if (Poco::toLower(uri.getScheme()) != "https" || uri.getHost().empty())
        throw FeedFetchFailed("refusing an update feed that is not https: " + url);

    try {
        const FetchDeadline deadline(m_limits.timeout);
        SslScope ssl;
        Poco::Net::HTTPSClientSession session(uri.getHost(), uri.getPort(), verifyingContext(m_caFile));
        const Poco::Timespan timeout(std::chrono::duration_cast<std::chrono::microseconds>(m_limits.timeout).count());
        session.setTimeout(timeout, timeout, timeout);
        session.setKeepAlive(false);
        Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, uri.getPathEtc(),
                                       Poco::Net::HTTPMessage::HTTP_1_1);
        request.set("Accept", "application/rss+xml, application/xml, text/xml");
        session.sendRequest(request);
        deadline.limit(session);
        Poco::Net::HTTPResponse response;
        std::istream& body = session.receiveResponse(response);
        const int status = response.getStatus();
        if (status != Poco::Net::HTTPResponse::HTTP_OK)
            throw FeedFetchFailed("the update feed answered " + std::to_string(status) + " " + response.getReason() +
                                  (status / 100 == 3 ? " (redirects are not followed)" : ""));
        if (response.hasContentLength() && response.getContentLength64() > 0 &&
            static_cast<unsigned long long>(response.getContentLength64()) > m_limits.maxBodyBytes)
            throw FeedFetchFailed("the update feed is larger than " + std::to_string(m_limits.maxBodyBytes) + " bytes");
        return readCapped(body, session, deadline, m_limits.maxBodyBytes);
    } catch (const Poco::Exception& e) {
        throw FeedFetchFailed("the update feed could not be fetched: " + e.displayText());
    }
}

} // namespace ferrovan
