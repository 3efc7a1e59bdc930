#pragma once

#include <map>
#include <string>
#include <vector>

namespace ferrovan {

// What the command line asked for; filled by CommandLineParser::parse.
struct CommandLineArguments {
    // Keys of the string options.
    enum StringOption {
        kAppUrl = 0,
        kRestPath = 1,
        kRestEndpointUrl = 2,
        kDisableAutoupdate = 3,
    };

    std::map<int, std::string> stringOptions;
    bool removeCefLog = false;
    unsigned int waitForPid = 0; // 0: none
    std::vector<int> dataKinds;  // in order of appearance, repeats kept
    // Options the parser skipped, with why; logged once the delayed logger exists.
    std::vector<std::string> warnings;
};

} // namespace ferrovan
