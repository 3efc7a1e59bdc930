#pragma once

#include "shell/VersionNumber.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ferrovan {

// One release offered by the update feed.
struct AppcastItem {
    std::string version;      // the build's version, compared with ours
    std::string shortVersion; // what the user is shown; may be empty
    std::string releaseNotesLink;
    std::string enclosureUrl;
};

// The newest release with its version read as a number.
struct AppcastRelease {
    AppcastItem item;
    VersionNumber version;
};

class MalformedAppcast : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The update feed: an RSS 2.0 document whose items carry the update framework's namespaced
// version attributes (on the enclosure, or as elements of the item).
class AppcastFeed {
public:
    static constexpr const char* kNamespace = "http://www.andymatuschak.org/xml-namespaces/sparkle";

    // Throws MalformedAppcast when `xml` is not a well-formed RSS document.
    static AppcastFeed parse(const std::string& xml);

    const std::vector<AppcastItem>& items() const { return m_items; }
    // The item with the highest numeric version; items whose version is not a number are
    // passed over.
    std::optional<AppcastRelease> newest() const;

private:
    std::vector<AppcastItem> m_items;
};

} // namespace ferrovan
