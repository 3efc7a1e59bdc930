#include "browser/PendingFilesStore.h"

#include <utility>

namespace ferrovan {

PendingFilesStore& PendingFilesStore::getInstance()
{
    static PendingFilesStore instance;
    return instance;
}

void PendingFilesStore::addHandOver(const std::string& route, const std::list<std::string>& paths, bool complete,
                                    bool defer)
{
    m_handOvers.push_back({route, paths, complete, defer});
}

std::vector<FilesHandOver> PendingFilesStore::takeAll()
{
    return std::exchange(m_handOvers, {});
}

} // namespace ferrovan
