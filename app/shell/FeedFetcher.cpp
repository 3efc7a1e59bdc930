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

std::string readCapped(std::istream& body, std::size_t maxBytes)
{
    std::string content;
    std::vector<char> buffer(16 * 1024);
    while (body) {
        body.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        content.append(buffer.data(), static_cast<std::size_t>(body.gcount()));
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
        SslScope ssl;
        Poco::Net::HTTPSClientSession session(uri.getHost(), uri.getPort(), verifyingContext(m_caFile));
        const Poco::Timespan timeout(std::chrono::duration_cast<std::chrono::microseconds>(m_limits.timeout).count());
        session.setTimeout(timeout, timeout, timeout);
        session.setKeepAlive(false);
        Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, uri.getPathEtc(),
                                       Poco::Net::HTTPMessage::HTTP_1_1);
        request.set("Accept", "application/rss+xml, application/xml, text/xml");
        session.sendRequest(request);
        Poco::Net::HTTPResponse response;
        std::istream& body = session.receiveResponse(response);
        const int status = response.getStatus();
        if (status != Poco::Net::HTTPResponse::HTTP_OK)
            throw FeedFetchFailed("the update feed answered " + std::to_string(status) + " " + response.getReason() +
                                  (status / 100 == 3 ? " (redirects are not followed)" : ""));
        if (response.hasContentLength() && response.getContentLength64() > 0 &&
            static_cast<unsigned long long>(response.getContentLength64()) > m_limits.maxBodyBytes)
            throw FeedFetchFailed("the update feed is larger than " + std::to_string(m_limits.maxBodyBytes) + " bytes");
        return readCapped(body, m_limits.maxBodyBytes);
    } catch (const Poco::Exception& e) {
        throw FeedFetchFailed("the update feed could not be fetched: " + e.displayText());
    }
}

} // namespace ferrovan
