#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace fv_test {

// Header fields in the order they were received or will be sent; names compare without case.
class HttpHeaders {
public:
    using Field = std::pair<std::string, std::string>;

    void add(const std::string& name, const std::string& value);
    // Replaces the first field of that name in place (keeping its position) and drops later ones.
    void set(const std::string& name, const std::string& value);
    void remove(const std::string& name);
    bool has(const std::string& name) const;
    // The first value of that name, or `fallback`.
    std::string get(const std::string& name, const std::string& fallback = "") const;
    const std::vector<Field>& fields() const { return m_fields; }

private:
    std::vector<Field> m_fields;
};

bool equalsIgnoreCase(const std::string& a, const std::string& b);

// A response body produced while it is sent, so big objects never sit whole in memory.
class BodySource {
public:
    virtual ~BodySource() = default;
    // Fills up to `max` bytes; 0 means the end.
    virtual size_t read(char* buffer, size_t max) = 0;
};

// What a route handler answers. The connection adds Content-Length (unless a header says
// otherwise) and Connection; a fault may still change how it goes out on the wire.
struct ServiceResponse {
    int status = 200;
    std::string reason; // empty: the standard reason for `status`
    HttpHeaders headers;
    std::string body;
    // When set, the body is streamed from here instead of `body`, `streamLength` bytes long.
    std::unique_ptr<BodySource> stream;
    uint64_t streamLength = 0;
    // Closes the connection after this response.
    bool close = false;

    uint64_t bodyLength() const { return stream ? streamLength : body.size(); }
    void setBody(int statusCode, std::string content, const std::string& contentType);
};

} // namespace fv_test
