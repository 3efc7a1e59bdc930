#pragma once

#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPResponse.h>

#include <string>
#include <utility>
#include <vector>

namespace fv_test {

using HttpFields = std::vector<std::pair<std::string, std::string>>;

struct HttpReply {
    int status = 0;
    std::string body;
    Poco::Net::HTTPResponse head;
};

// One request with `body` (announced by Content-Length for PUT and POST) and its whole answer.
HttpReply httpExchange(Poco::Net::HTTPClientSession& session, const std::string& method, const std::string& target,
                       const std::string& body = "", const HttpFields& headers = {});
// The same on a session of its own to the URL's host (20 s time-out); the target goes out as
// written, where Poco::URI would decode the path.
HttpReply httpExchange(const std::string& method, const std::string& url, const std::string& body = "",
                       const HttpFields& headers = {});

} // namespace fv_test
