#pragma once

#include <memory>
#include <string>

namespace ferrovan {

// Hands local items and web links to the desktop. UI thread only.
class IOsFileExplorer {
public:
    virtual ~IOsFileExplorer() = default;
    // Shows the absolute local `path` in the file manager: a folder opened, a file selected in
    // its folder. False when the path does not exist or nothing could show it.
    virtual bool showInFolder(const std::string& path) = 0;
    // Opens an http or https address with a host in the default browser. Anything else (local
    // files, programs, other schemes) is refused with false: pages name what is opened here.
    virtual bool open(const std::string& url) = 0;
};

std::unique_ptr<IOsFileExplorer> createOsFileExplorer();

// IOsFileExplorer::open on a fresh explorer: the default opener of anything that shows a page
// it was handed (a notification, the updater's offer).
bool openWebPage(const std::string& url);

} // namespace ferrovan
