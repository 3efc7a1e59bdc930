#pragma once

#include "support/TestEnvironment.h"

#include <string>

namespace fv_test {

// Sends the library's log to a file of its own for the test's lifetime, so a test can read the
// lines it caused.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string text() const;
    // How many lines contain the piece.
    int count(const std::string& piece) const;

private:
    TempDir m_dir;
};

} // namespace fv_test
