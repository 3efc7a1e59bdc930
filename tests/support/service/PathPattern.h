#pragma once

#include <map>
#include <string>
#include <vector>

namespace fv_test {

using RouteParams = std::map<std::string, std::string>;

// A path pattern for routes and fault rules, matched against the raw (undecoded) path:
// - "/api/v2/bucket/{bucketId}/file" : "{name}" takes one whole segment, captured raw;
// - "/storage/*" : a last "*" segment takes the rest of the path (one or more segments),
//   captured as "*";
// - "*" alone matches every path; anything else must match exactly.
class PathPattern {
public:
    explicit PathPattern(const std::string& pattern);

    bool match(const std::string& path, RouteParams* params = nullptr) const;
    const std::string& text() const { return m_text; }

private:
    std::string m_text;
    std::vector<std::string> m_segments;
    bool m_any = false;
    bool m_rest = false;
};

// The path split at '/', the leading empty segment dropped ("/a/b" gives "a", "b").
std::vector<std::string> splitPath(const std::string& path);

} // namespace fv_test
