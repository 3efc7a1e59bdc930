#pragma once

#include <exception>
#include <string>

namespace ferrovan {

// The message of any exception for a log line. POCO's what() gives only the exception's
// name, so its full text is taken from displayText().
std::string exceptionText(const std::exception& e);

// Logs, as an error of `function`, an exception that reached a C library's callback.
void logEscapedException(const char* function, const std::string& text) noexcept;

// Runs `body` at an entry from C code (a GLib or GTK callback): no exception may unwind
// through the library's frames, so one that arrives here ends here, logged.
template <typename Body> void guardCallback(const char* function, Body&& body) noexcept
{
    try {
        body();
    } catch (const std::exception& e) {
        logEscapedException(function, exceptionText(e));
    } catch (...) {
        logEscapedException(function, "unknown exception");
    }
}

} // namespace ferrovan
