#pragma once

#include "shell/OsFileExplorer.h"

namespace ferrovan {

// Folders go to the desktop's file manager through its org.freedesktop.FileManager1 service on
// the session bus, which can select a file; without one, the default handler of the folder
// opens it. Web addresses go to the default browser through GIO, after our own check: GIO would
// run whatever handler the scheme has, and the address comes from a page.
class OsFileExplorerLinux : public IOsFileExplorer {
public:
    bool showInFolder(const std::string& path) override;
    bool open(const std::string& url) override;
};

} // namespace ferrovan
