#include "db/DbDataLoader.h"

#include "core/log/FvTransfersLogger.h"
#include "db/DbHolder.h"

#include <algorithm>
#include <set>

namespace fv_transfers {

namespace {

struct SideTexts {
    const char* extractedPrefix;
    const char* extractedGroups;
    const char* extractedFiles;
    const char* extractedChannels;
    const char* unreadable;
    const char* nothingToValidate;
    const char* starting;
    const char* filesToRemove;
    const char* filesValid;
    const char* channelsToRemove;
    const char* channelsValid;
};

const SideTexts kUploadTexts = {
    "Extracted ",
    " upload groups from DB",
    " upload files from DB",
    " upload channels from DB",
    "Unable to read the stored upload state; nothing is restored and nothing removed",
    "There are no upload files and upload parts in DB, skipping data validation...",
    "Starting upload data validation",
    " upload files should be removed from DB",
    "All upload files in DB are valid",
    " zombie file ids extracted from upload channels DB table. Removing...",
    "No zombie upload channels found",
};

const SideTexts kDownloadTexts = {
    "Download Manager: Extracted ",
    " groups from DB",
    " files from DB",
    " channels from DB",
    "Unable to read the stored download state; nothing is restored and nothing removed",
    "There are no download files and download parts in DB, skipping data validation...",
    "Starting download data validation",
    " download files should be removed from DB",
    "All download files in DB are valid",
    " zombie file ids extracted from download channels DB table. Removing...",
    "No zombie download channels found",
};

const std::string& fileUidOf(const CFilesDbInfo::FileInfo& file)
{
    return file.FileUid;
}

const std::string& fileUidOf(const CDownloadFilesDbInfo::FileInfo& file)
{
    return file.details.id;
}

// Files whose group is gone go, with all their channels; then channels whose file is gone. Each
// delete checks the parent again, so rows whose parent was stored after the snapshot stay.
template <typename Group, typename File, typename Channel, typename FileTable, typename ChannelTable>
void removeZombies(const SideTexts& texts, const std::vector<Group>& groups, std::vector<File>& files,
                   std::vector<Channel>& channels, FileTable& fileTable, ChannelTable& channelTable)
{
    if (files.empty() && channels.empty()) {
        FV_LOG_INFO(texts.nothingToValidate);
        return;
    }
    FV_LOG_INFO(texts.starting);

    std::set<std::int32_t> groupIds;
    for (const Group& group : groups)
        groupIds.insert(group.GroupId);
    std::set<std::string> zombieFiles;
    files.erase(std::remove_if(files.begin(), files.end(),
                               [&](const File& file) {
                                   if (groupIds.count(file.ParentGroupId) != 0)
                                       return false;
                                   FV_LOG_WARNING("Found zombie file in DB. File id: "
                                                  << fileUidOf(file) << ". It belong to group " << file.ParentGroupId
                                                  << " which does not exist");
                                   zombieFiles.insert(fileUidOf(file));
                                   return true;
                               }),
                files.end());
    if (zombieFiles.empty()) {
        FV_LOG_INFO(texts.filesValid);
    } else {
        FV_LOG_INFO(zombieFiles.size() << texts.filesToRemove);
        channels.erase(std::remove_if(channels.begin(), channels.end(),
                                      [&](const Channel& channel) { return zombieFiles.count(channel.FileUid) != 0; }),
                       channels.end());
        // Files first: channels left by a failed second step are found as zombies next time.
        fileTable.removeOrphansByFileUids(zombieFiles);
        channelTable.removeOrphansByFileUids(zombieFiles);
    }

    std::set<std::string> fileIds;
    for (const File& file : files)
        fileIds.insert(fileUidOf(file));
    std::set<std::string> zombieChannels;
    channels.erase(std::remove_if(channels.begin(), channels.end(),
                                  [&](const Channel& channel) {
                                      if (fileIds.count(channel.FileUid) != 0)
                                          return false;
                                      FV_LOG_WARNING("Found zombie channel in DB. File id: " << channel.FileUid);
                                      zombieChannels.insert(channel.FileUid);
                                      return true;
                                  }),
                   channels.end());
    if (zombieChannels.empty()) {
        FV_LOG_INFO(texts.channelsValid);
    } else {
        FV_LOG_WARNING(zombieChannels.size() << texts.channelsToRemove);
        channelTable.removeOrphansByFileUids(zombieChannels);
    }
}

// All three tables or nothing: a snapshot missing one table would make the rest look orphaned.
template <typename GroupTable, typename FileTable, typename ChannelTable, typename Group, typename File,
          typename Channel>
bool readAll(const SideTexts& texts, GroupTable& groupTable, FileTable& fileTable, ChannelTable& channelTable,
             std::vector<Group>& groups, std::vector<File>& files, std::vector<Channel>& channels)
{
    bool read = groupTable.selectAll(groups);
    FV_LOG_INFO(texts.extractedPrefix << groups.size() << texts.extractedGroups);
    read = read && fileTable.selectAll(files);
    FV_LOG_INFO(texts.extractedPrefix << files.size() << texts.extractedFiles);
    read = read && channelTable.selectAll(channels);
    FV_LOG_INFO(texts.extractedPrefix << channels.size() << texts.extractedChannels);
    if (read)
        return true;
    FV_LOG_ERROR(texts.unreadable);
    groups.clear();
    files.clear();
    channels.clear();
    return false;
}

template <typename Channel>
void copyChannelsOfFile(const std::string& fileUid, std::vector<Channel>& channels, const std::vector<Channel>& source)
{
    channels.clear();
    std::copy_if(source.begin(), source.end(), std::back_inserter(channels),
                 [&](const Channel& channel) { return channel.FileUid == fileUid; });
}

} // namespace

CDbDataLoader& CDbDataLoader::getInstance()
{
    static CDbDataLoader instance;
    return instance;
}

bool CDbDataLoader::loadUploadData()
{
    return loadUploadData(*CDbHolder::getInstance());
}

bool CDbDataLoader::loadUploadData(const CDbHolder& holder)
{
    CDbConnection::StartupWait wait(*holder.getConnection(), holder.startupDeadline());
    if (!readAll(kUploadTexts, *holder.getGroupsDbInfo(), *holder.getFilesDbInfo(), *holder.getChannelsDbInfo(),
                 m_uploadGroups, m_uploadFiles, m_uploadChannels))
        return false;
    removeUploadZombies(holder, m_uploadGroups, m_uploadFiles, m_uploadChannels);
    return true;
}

void CDbDataLoader::removeUploadZombies(const CDbHolder& holder, const std::vector<CGroupsDbInfo::GroupInfo>& groups,
                                        std::vector<CFilesDbInfo::FileInfo>& files,
                                        std::vector<CChannelsDbInfo::ChannelInfo>& channels)
{
    removeZombies(kUploadTexts, groups, files, channels, *holder.getFilesDbInfo(), *holder.getChannelsDbInfo());
}

void CDbDataLoader::releaseUploadData()
{
    m_uploadGroups.clear();
    m_uploadFiles.clear();
    m_uploadChannels.clear();
}

bool CDbDataLoader::loadDownloadData()
{
    return loadDownloadData(*CDbHolder::getInstance());
}

bool CDbDataLoader::loadDownloadData(const CDbHolder& holder)
{
    CDbConnection::StartupWait wait(*holder.getConnection(), holder.startupDeadline());
    const auto groups = holder.getDownloadGroupInfoAggregator();
    if (!readAll(kDownloadTexts, *groups, *holder.getDownloadFilesDbInfo(), *holder.getDownloadChannelsDbInfo(),
                 m_downloadGroups, m_downloadFiles, m_downloadChannels))
        return false;
    // Decided by the database itself at delete time, not by the snapshot.
    std::size_t orphanParams = 0;
    if (groups->m_groupInfoParamsDbInfo.removeOrphans(orphanParams) && orphanParams > 0)
        FV_LOG_WARNING("Removed " << orphanParams << " parameter rows of download groups that do not exist");
    removeDownloadZombies(holder, m_downloadGroups, m_downloadFiles, m_downloadChannels);
    return true;
}

void CDbDataLoader::removeDownloadZombies(const CDbHolder& holder,
                                          const std::vector<CDbDownloadGroupInfoAggregator::GroupInfo>& groups,
                                          std::vector<CDownloadFilesDbInfo::FileInfo>& files,
                                          std::vector<CDownloadChannelsDbInfo::ChannelInfo>& channels)
{
    removeZombies(kDownloadTexts, groups, files, channels, *holder.getDownloadFilesDbInfo(),
                  *holder.getDownloadChannelsDbInfo());
}

void CDbDataLoader::releaseDownloadData()
{
    m_downloadGroups.clear();
    m_downloadFiles.clear();
    m_downloadChannels.clear();
}

void CDbDataLoader::getUploadChannelsOfFile(const std::string& fileUid,
                                            std::vector<CChannelsDbInfo::ChannelInfo>& channels,
                                            const std::vector<CChannelsDbInfo::ChannelInfo>& source)
{
    copyChannelsOfFile(fileUid, channels, source);
}

void CDbDataLoader::getDownloadChannelsOfFile(const std::string& fileUid,
                                              std::vector<CDownloadChannelsDbInfo::ChannelInfo>& channels,
                                              const std::vector<CDownloadChannelsDbInfo::ChannelInfo>& source)
{
    copyChannelsOfFile(fileUid, channels, source);
}

void CDbDataLoader::getDownloadChannelsOfFile(const std::string& fileUid,
                                              std::vector<CDownloadChannelsDbInfo::ChannelInfo>& channels) const
{
    copyChannelsOfFile(fileUid, channels, m_downloadChannels);
}

} // namespace fv_transfers
