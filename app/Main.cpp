#include "browser/BrowserHost.h"
#include "shell/CommandLineArguments.h"
#include "shell/CommandLineParser.h"
#include "shell/linux/FerrovanApplicationLinux.h"
#include "shell/linux/StopSignalHold.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

// The program's own path, as the kernel knows it; empty when it cannot be read.
std::string executablePath()
{
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (length <= 0) {
        std::cerr << "Ferrovan: cannot read the program's path: " << std::strerror(errno) << std::endl;
        return std::string();
    }
    return std::string(buffer, static_cast<std::size_t>(length));
}

} // namespace

// The arguments are UTF-8 already. There are no helper processes to branch to: the browser
// starts its own.
int main(int argc, char** argv)
{
    ferrovan::holdStopSignals();

    ferrovan::CommandLineArguments arguments;
    ferrovan::CommandLineParser::parse(argc, argv, arguments);
    ferrovan::FerrovanApplicationLinux application(arguments, executablePath(), ferrovan::createBrowserHost);
    return application.run();
}
