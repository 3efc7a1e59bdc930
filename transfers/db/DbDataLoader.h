#pragma once

#include "db/ChannelsDbInfo.h"
#include "db/DbDownloadGroupInfoAggregator.h"
#include "db/DownloadChannelsDbInfo.h"
#include "db/DownloadFilesDbInfo.h"
#include "db/FilesDbInfo.h"
#include "db/GroupsDbInfo.h"

#include <string>
#include <vector>

namespace fv_transfers {

class CDbHolder;

// The transfer state stored by earlier runs, read once when a manager is built: every row of
// one side's tables, with files whose group is gone and channels whose file is gone removed from
// the snapshot and from the database. Each side loads, is restored from the snapshot and
// releases it on the thread that builds its manager; the two sides do not share vectors.
class CDbDataLoader {
public:
    static CDbDataLoader& getInstance();

    // Reads and validates the upload tables of the process's database. False when any table
    // could not be read: the snapshot is then empty and nothing is deleted, so that a busy or
    // damaged file never costs stored transfers. A file held elsewhere is waited for only until
    // the holder's start-up deadline.
    bool loadUploadData();
    bool loadUploadData(const CDbHolder& holder);
    void releaseUploadData();

    // The same for the download tables; group parameter rows whose group is gone are deleted too.
    bool loadDownloadData();
    bool loadDownloadData(const CDbHolder& holder);
    void releaseDownloadData();

    const std::vector<CGroupsDbInfo::GroupInfo>& uploadGroups() const { return m_uploadGroups; }
    const std::vector<CFilesDbInfo::FileInfo>& uploadFiles() const { return m_uploadFiles; }
    const std::vector<CChannelsDbInfo::ChannelInfo>& uploadChannels() const { return m_uploadChannels; }
    const std::vector<CDbDownloadGroupInfoAggregator::GroupInfo>& downloadGroups() const { return m_downloadGroups; }
    const std::vector<CDownloadFilesDbInfo::FileInfo>& downloadFiles() const { return m_downloadFiles; }
    const std::vector<CDownloadChannelsDbInfo::ChannelInfo>& downloadChannels() const { return m_downloadChannels; }

    // Drops from a snapshot the files whose group it lacks and the channels whose file it lacks,
    // and deletes their rows from the holder's database, except rows that have a parent there by
    // then: another connection may have stored a group with its files after the snapshot's group
    // table was read. Only for a snapshot whose three tables were all read.
    static void removeUploadZombies(const CDbHolder& holder, const std::vector<CGroupsDbInfo::GroupInfo>& groups,
                                    std::vector<CFilesDbInfo::FileInfo>& files,
                                    std::vector<CChannelsDbInfo::ChannelInfo>& channels);
    static void removeDownloadZombies(const CDbHolder& holder,
                                      const std::vector<CDbDownloadGroupInfoAggregator::GroupInfo>& groups,
                                      std::vector<CDownloadFilesDbInfo::FileInfo>& files,
                                      std::vector<CDownloadChannelsDbInfo::ChannelInfo>& channels);

    // Clears `channels` and copies into it the channels of `source` that belong to the file, in
    // source order.
    static void getUploadChannelsOfFile(const std::string& fileUid, std::vector<CChannelsDbInfo::ChannelInfo>& channels,
                                        const std::vector<CChannelsDbInfo::ChannelInfo>& source);
    static void getDownloadChannelsOfFile(const std::string& fileUid,
                                          std::vector<CDownloadChannelsDbInfo::ChannelInfo>& channels,
                                          const std::vector<CDownloadChannelsDbInfo::ChannelInfo>& source);
    // The same over the loaded download snapshot.
    void getDownloadChannelsOfFile(const std::string& fileUid,
                                   std::vector<CDownloadChannelsDbInfo::ChannelInfo>& channels) const;

private:
    CDbDataLoader() = default;

    std::vector<CGroupsDbInfo::GroupInfo> m_uploadGroups;
    std::vector<CFilesDbInfo::FileInfo> m_uploadFiles;
    std::vector<CChannelsDbInfo::ChannelInfo> m_uploadChannels;
    std::vector<CDbDownloadGroupInfoAggregator::GroupInfo> m_downloadGroups;
    std::vector<CDownloadFilesDbInfo::FileInfo> m_downloadFiles;
    std::vector<CDownloadChannelsDbInfo::ChannelInfo> m_downloadChannels;
};

} // namespace fv_transfers
