#pragma once

#include <string>

namespace ferrovan {

// The per-user data folder (XDG data home + "Ferrovan"), created 0700, ending in a separator;
// empty when no absolute folder can be found or created.
std::string getLocalAppDataDirectory();

// The user's home folder: $HOME when it is absolute, else the password database's entry;
// empty when neither gives one.
std::string getUserProfileDirectory();

// Waits until the process has exited (true; also for an unknown pid) or `timeoutMs` has passed
// (false). 0 waits without limit.
bool waitForProcessExit(unsigned int pid, unsigned int timeoutMs);

// The name of the resources folder beside the executable: "Resources".
std::string getResourcesDirectoryName();

// The folder that holds `path`.
std::string getParentDirectory(const std::string& path);

// Replaces every backslash by a forward slash, in place.
void toForwardSlashes(std::string& text);

} // namespace ferrovan
