#include "support/service/ServiceMessages.h"

#include <algorithm>
#include <cctype>

namespace fv_test {

bool equalsIgnoreCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

void HttpHeaders::add(const std::string& name, const std::string& value)
{
    m_fields.emplace_back(name, value);
}

void HttpHeaders::set(const std::string& name, const std::string& value)
{
    auto first = std::find_if(m_fields.begin(), m_fields.end(),
                              [&](const Field& field) { return equalsIgnoreCase(field.first, name); });
    if (first == m_fields.end()) {
        add(name, value);
        return;
    }
    first->second = value;
    m_fields.erase(std::remove_if(first + 1, m_fields.end(),
                                  [&](const Field& field) { return equalsIgnoreCase(field.first, name); }),
                   m_fields.end());
}

void HttpHeaders::remove(const std::string& name)
{
    m_fields.erase(std::remove_if(m_fields.begin(), m_fields.end(),
                                  [&](const Field& field) { return equalsIgnoreCase(field.first, name); }),
                   m_fields.end());
}

bool HttpHeaders::has(const std::string& name) const
{
    return std::any_of(m_fields.begin(), m_fields.end(),
                       [&](const Field& field) { return equalsIgnoreCase(field.first, name); });
}

std::string HttpHeaders::get(const std::string& name, const std::string& fallback) const
{
    for (const Field& field : m_fields) {
        if (equalsIgnoreCase(field.first, name))
            return field.second;
    }
    return fallback;
}

void ServiceResponse::setBody(int statusCode, std::string content, const std::string& contentType)
{
    status = statusCode;
    body = std::move(content);
    stream.reset();
    streamLength = 0;
    headers.set("Content-Type", contentType);
}

} // namespace fv_test
