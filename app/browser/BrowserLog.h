#pragma once

#include <Poco/Message.h>

#include <string>

namespace ferrovan {

// "browser.log": what the embedded browser itself reports (loads that failed, certificates
// refused, page processes that ended and, in test mode, the page's console), apart from the
// program's log. Lines take the program log's pattern; the file is never rotated, only emptied
// at open when it has grown past kMaxBytes. Any thread.
class BrowserLog {
public:
    static constexpr unsigned long kMaxBytes = 10UL * 1024 * 1024;

    // A file that cannot be opened leaves the log closed; the program runs on.
    static void open(const std::string& path);
    static void close();
    // Nothing while closed.
    static void write(Poco::Message::Priority priority, const std::string& text);
};

} // namespace ferrovan
