#pragma once

#include "support/fixtures/TestEnvironment.h"

#include <chrono>
#include <string>
#include <vector>

namespace fv_test {

// A default browser (http, https) and file manager (folders) of the test's own: desktop files in
// $XDG_DATA_HOME/applications, made the defaults in $XDG_CONFIG_HOME/mimeapps.list, each running
// a script that appends the address it was given to a file. GIO reads these once, so the object
// must exist before the first GIO call of the process; the session wrapper provides the folders.
class FakeDesktopHandlers {
public:
    FakeDesktopHandlers();
    FakeDesktopHandlers(const FakeDesktopHandlers&) = delete;
    FakeDesktopHandlers& operator=(const FakeDesktopHandlers&) = delete;

    // What each handler was given so far, one launch a line.
    std::vector<std::string> browserCalls() const;
    std::vector<std::string> fileManagerCalls() const;
    // Waits until the handler has been launched `count` times or the deadline has passed, running
    // the default main context meanwhile (GIO reaps its children there); what it was given.
    std::vector<std::string> awaitBrowserCalls(std::size_t count, std::chrono::milliseconds deadline) const;
    std::vector<std::string> awaitFileManagerCalls(std::size_t count, std::chrono::milliseconds deadline) const;
    // Forgets the launches so far.
    void clear();

private:
    std::string writeHandler(const std::string& name, const std::string& mimeTypes, const std::string& record);

    TempDir m_dir;
    std::string m_browserRecord;
    std::string m_fileManagerRecord;
};

} // namespace fv_test
