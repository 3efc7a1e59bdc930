#pragma once

#include <string>
#include <vector>

namespace ferrovan::ostrel {

// Hands paths to the main program's `Send` or `Share` on the session bus. The bus starts the
// program when it is not running, which takes seconds, so nothing here waits for it: the file
// manager's UI must never stall. A failure is reported as a warning with the bus's error text.
class CHandoffCallLinux {
public:
    static void start(const std::string& method, const std::vector<std::string>& paths);
};

} // namespace ferrovan::ostrel
