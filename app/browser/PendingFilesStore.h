#pragma once

#include <list>
#include <string>
#include <vector>

namespace ferrovan {

// One hand-over of files from the desktop: the page's route to open, the local paths (UTF-8) and
// the two flags the page receives with them.
struct FilesHandOver {
    std::string route;
    std::list<std::string> paths;
    bool complete = false;
    bool defer = false;
};

// Hand-overs that arrive before the page says it is ready, each kept whole with its own route and
// flags, in arrival order. Taking them empties the store, so a page that reloads and reports
// ready again does not receive the same files twice. Used on the UI thread only.
class PendingFilesStore {
public:
    // The program's store; tests make their own.
    static PendingFilesStore& getInstance();

    void addHandOver(const std::string& route, const std::list<std::string>& paths, bool complete, bool defer);
    std::vector<FilesHandOver> takeAll();
    bool isEmpty() const { return m_handOvers.empty(); }

private:
    std::vector<FilesHandOver> m_handOvers;
};

} // namespace ferrovan
