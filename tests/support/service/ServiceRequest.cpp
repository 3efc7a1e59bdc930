#include "support/service/ServiceRequest.h"

#include <Poco/URI.h>

#include <stdexcept>

namespace fv_test {

namespace {

bool findQueryParam(const std::string& query, const std::string& name, std::string* value)
{
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string::npos)
            end = query.size();
        const std::string pair = query.substr(start, end - start);
        const size_t equals = pair.find('=');
        std::string key;
        Poco::URI::decode(pair.substr(0, equals), key);
        if (key == name) {
            if (value && equals != std::string::npos) {
                std::string raw = pair.substr(equals + 1);
                for (char& c : raw) {
                    if (c == '+')
                        c = ' ';
                }
                Poco::URI::decode(raw, *value);
            }
            return true;
        }
        start = end + 1;
    }
    return false;
}

} // namespace

std::string RequestHead::path() const
{
    return target.substr(0, target.find('?'));
}

std::string RequestHead::query() const
{
    const size_t mark = target.find('?');
    return mark == std::string::npos ? std::string() : target.substr(mark + 1);
}

ServiceRequest::ServiceRequest(const RequestHead& head, uint64_t connectionId, bool secure, RequestBodySource& body)
    : m_head(head), m_path(head.path()), m_query(head.query()), m_connectionId(connectionId), m_secure(secure),
      m_body(body)
{
}

std::string ServiceRequest::param(const std::string& name) const
{
    const auto it = m_params.find(name);
    return it == m_params.end() ? std::string() : it->second;
}

std::string ServiceRequest::queryParam(const std::string& name) const
{
    std::string value;
    findQueryParam(m_query, name, &value);
    return value;
}

bool ServiceRequest::hasQueryParam(const std::string& name) const
{
    return findQueryParam(m_query, name, nullptr);
}

std::string ServiceRequest::readWholeBody(size_t limit)
{
    std::string body;
    char buffer[16384];
    while (size_t got = readBody(buffer, sizeof buffer)) {
        if (body.size() + got > limit)
            throw std::length_error("request body over the limit");
        body.append(buffer, got);
    }
    return body;
}

} // namespace fv_test
