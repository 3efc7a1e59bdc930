#include "support/net/HttpExchange.h"

#include <Poco/Net/HTTPRequest.h>
#include <Poco/StreamCopier.h>
#include <Poco/URI.h>

namespace fv_test {

HttpReply httpExchange(Poco::Net::HTTPClientSession& session, const std::string& method, const std::string& target,
                       const std::string& body, const HttpFields& headers)
{
    Poco::Net::HTTPRequest request(method, target, Poco::Net::HTTPMessage::HTTP_1_1);
    for (const auto& header : headers)
        request.set(header.first, header.second);
    if (method == "PUT" || method == "POST")
        request.setContentLength64(static_cast<Poco::Int64>(body.size()));
    session.sendRequest(request) << body;
    HttpReply reply;
    std::istream& in = session.receiveResponse(reply.head);
    Poco::StreamCopier::copyToString(in, reply.body);
    reply.status = reply.head.getStatus();
    return reply;
}

HttpReply httpExchange(const std::string& method, const std::string& url, const std::string& body,
                       const HttpFields& headers)
{
    const Poco::URI uri(url);
    Poco::Net::HTTPClientSession session(uri.getHost(), uri.getPort());
    session.setTimeout(Poco::Timespan(20, 0));
    return httpExchange(session, method, url.substr(url.find('/', url.find("//") + 2)), body, headers);
}

} // namespace fv_test
