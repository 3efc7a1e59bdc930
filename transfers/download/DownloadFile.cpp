#include "download/DownloadFile.h"

#include "core/base/DtError.h"
#include "core/base/StringConversion.h"
#include "core/files/FileDigest.h"
#include "core/files/OsSafeFilenames.h"
#include "core/files/PathUnderBase.h"
#include "core/http/FetchUrlContent.h"
#include "core/log/FvTransfersLogger.h"
#include "core/rest/RestApiDownloadDetails.h"
#include "db/DbDataLoader.h"
#include "db/DbHolder.h"
#include "download/DownloadEngineCallback.h"
#include "download/DownloadFileOwner.h"
#include "download/ManifestFileParser.h"

#include <Poco/Delegate.h>
#include <Poco/String.h>

#include <cerrno>
#include <algorithm>
#include <exception>

namespace fv_transfers {

namespace {

DownloadFileEnvironment completed(DownloadFileEnvironment environment)
{
    if (!environment.files || !environment.channels) {
        const std::shared_ptr<CDbHolder> holder = CDbHolder::getInstance();
        if (!environment.files)
            environment.files = holder->getDownloadFilesDbInfo();
        if (!environment.channels)
            environment.channels = holder->getDownloadChannelsDbInfo();
    }
    if (!environment.fileSystem)
        environment.fileSystem = createTargetFileSystem();
    return environment;
}

bool sameDigest(const std::string& a, const std::string& b)
{
    return !a.empty() && Poco::icompare(a, b) == 0;
}

bool isPlainMd5(const std::string& digest)
{
    return !digest.empty() && digest.find('-') == std::string::npos;
}

} // namespace

// The URL refresh runs as its own task: queued on the file itself it would merge with a waiting
// preparation and take its parameters.
class CDownloadFile::UrlRefreshTask : public CTrasfersAsyncTasksExecutor::IAsyncTask {
public:
    explicit UrlRefreshTask(std::weak_ptr<CDownloadFile> file) : m_file(std::move(file)) {}
    int exec(std::shared_ptr<CTrasfersAsyncTasksExecutor::IAsyncTaskParams>&, const CStopToken&) override
    {
        const std::shared_ptr<CDownloadFile> file = m_file.lock();
        return file ? file->refreshUrl() : dt_cancelled;
    }

private:
    const std::weak_ptr<CDownloadFile> m_file;
};

CDownloadFile::CDownloadFile(std::shared_ptr<CTrasfersAsyncTasksExecutor> executor, std::uint64_t minMultipartSize,
                             std::shared_ptr<ITransferBufferManager> bufferManager, DownloadFileEnvironment environment)
    : m_executor(std::move(executor)), m_partSize(minMultipartSize), m_buffers(std::move(bufferManager)),
      m_environment(completed(std::move(environment)))
{
}

CDownloadFile::~CDownloadFile()
{
    try {
        // No queued task holds the file any more (entries own it), so none is left to remove.
        release();
        // No channel may call into a file that is gone (a stop from the channel's own thread
        // only asks).
        CFileChannelsInfo::ChannelList list;
        channels.getAllChannels(list);
        for (const auto& channel : list)
            channel->stop();
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Exception caught in destructor of CDownloadFile: " << e.what());
    }
}

std::string CDownloadFile::logPrefix() const
{
    return "[File " + m_details.id + "] ";
}

bool CDownloadFile::finalPathFor(const std::wstring& downloadFolder, const std::wstring& relativePath,
                                 std::string& finalPath)
{
    std::string relative = wideToUtf8(relativePath);
    os_safe_filenames::replaceUnsafeCharsInPath(relative);
    return joinUnderBase(wideToUtf8(downloadFolder), relative, finalPath);
}

int CDownloadFile::resolvePaths(const std::wstring& downloadFolder, const std::wstring& relativePath)
{
    std::string finalPath;
    if (!finalPathFor(downloadFolder, relativePath, finalPath)) {
        FV_LOG_ERROR(logPrefix() << "Unable to place the file under the download folder: " << wideToUtf8(relativePath));
        return dt_local_file_error;
    }
    m_finalPath = finalPath;
    m_folder = parentFolderOf(finalPath);
    FV_LOG_INFO("Download path of a file with id " << m_details.id << " is " << m_finalPath);
    return dt_success;
}

int CDownloadFile::initialize(const std::wstring& downloadFolder, const FileDownloadDetails& details,
                              IDownloadFileOwner* owner)
{
    const std::int32_t groupId = owner->getGroupId();
    Lock lock(fileLock);
    m_details = details;
    m_owner = owner;
    m_groupId = groupId;
    m_urlTask = std::make_shared<UrlRefreshTask>(weak_from_this());
    const int resolved = resolvePaths(downloadFolder, details.path);
    if (resolved != dt_success)
        return resolved;
    m_stage = Stage::needsPlan;
    lock.unlock();
    if (!m_environment.files->insert(details, groupId, L""))
        FV_LOG_ERROR(logPrefix() << "Unable to store the file");
    lock.lock();
    postPreparation(lock);
    return dt_success;
}

int CDownloadFile::restoreFromDb(const std::wstring& downloadFolder, const CDownloadFilesDbInfo::FileInfo& row,
                                 IDownloadFileOwner* owner)
{
    std::vector<CDownloadChannelsDbInfo::ChannelInfo> channelRows;
    CDbDataLoader::getInstance().getDownloadChannelsOfFile(row.details.id, channelRows);
    return restoreFromDb(downloadFolder, row, channelRows, owner);
}

int CDownloadFile::restoreFromDb(const std::wstring& downloadFolder, const CDownloadFilesDbInfo::FileInfo& row,
                                 const std::vector<CDownloadChannelsDbInfo::ChannelInfo>& channelRows,
                                 IDownloadFileOwner* owner)
{
    const std::int32_t groupId = owner->getGroupId();
    Lock lock(fileLock);
    m_details = row.details;
    m_owner = owner;
    m_groupId = groupId;
    m_urlTask = std::make_shared<UrlRefreshTask>(weak_from_this());
    const int resolved = resolvePaths(downloadFolder, row.details.path);
    if (resolved != dt_success)
        return resolved;
    FV_LOG_INFO("Extracted from DB " << channelRows.size() << " download channels for file with id " << m_details.id);

    // Only a temporary file of our own naming beside the final one is trusted.
    const std::string storedTemp = wideToUtf8(row.TmpFileName);
    if (!storedTemp.empty() && storedTemp != m_finalPath && parentFolderOf(storedTemp) == m_folder)
        m_tempPath = storedTemp;

    std::vector<PlannedRange> ranges;
    std::vector<std::uint64_t> checkpoints;
    std::vector<bool> done;
    for (const auto& channelRow : channelRows) {
        ranges.push_back({channelRow.Offset, channelRow.BytesToTransfer, channelRow.Md5});
        checkpoints.push_back(std::min(channelRow.BytesWritten, channelRow.BytesToTransfer));
        done.push_back(channelRow.State == ITransferChannel::stateCompleted);
    }
    const bool allDone = std::all_of(done.begin(), done.end(), [](bool d) { return d; });
    const bool usable = rangesTile(ranges, m_details.size) &&
                        (allDone || (!m_tempPath.empty() && m_environment.fileSystem->status(m_tempPath).exists));
    if (!usable) {
        FV_LOG_WARNING(logPrefix() << "Stored ranges of the file cannot be continued; dividing it again");
        m_stage = Stage::needsPlan;
        postPreparation(lock);
        return dt_success;
    }
    if (allDone) {
        FV_LOG_INFO("Download file: file with id " << m_details.id << " that has been restored from DB is completed!");
        m_restoredRanges = ranges;
        m_stage = Stage::needsFinish;
        postPreparation(lock);
        return dt_success;
    }
    lock.unlock();
    buildChannels(ranges, checkpoints, done);
    lock.lock();
    m_stage = Stage::ready;
    return dt_success;
}

void CDownloadFile::postPreparation(Lock& lock)
{
    if (m_cancelled || (m_preparing && m_preparation && !m_preparation->isFinished()))
        return;
    m_preparationError = 0;
    std::shared_ptr<CTrasfersAsyncTasksExecutor> executor = m_executor.lock();
    if (!executor) {
        m_preparationError = dt_interrupted; // shutting down
        return;
    }
    m_preparing = true;
    std::shared_ptr<CDownloadFile> self = shared_from_this();
    lock.unlock();
    auto flight = executor->queueTask(self);
    lock.lock();
    m_preparation = flight;
}

bool CDownloadFile::needsPreparation()
{
    std::lock_guard<std::mutex> guard(fileLock);
    return !m_prepared;
}

int CDownloadFile::prepareForTransfer()
{
    Lock lock(fileLock);
    if (m_cancelled)
        return dt_cancelled;
    if (m_stage == Stage::done) {
        m_prepared = true;
        return kUpToDate;
    }
    // The task wakes the engine before its completion is marked: its own flag says it is done.
    if (m_preparing && m_preparation && !m_preparation->isFinished())
        return kNotReady;
    if (m_preparationError != dt_success) {
        FV_LOG_ERROR(logPrefix() << "Preparation of the file failed. Error code: " << m_preparationError);
        return m_preparationError;
    }
    if (m_stage != Stage::ready) {
        // The task that was to prepare the file never ran (the executor dropped it): post one.
        postPreparation(lock);
        return kNotReady;
    }
    m_prepared = true;
    m_finished = false;
    m_tracker.start(m_details.size);
    return dt_success;
}

void CDownloadFile::resume()
{
    Lock lock(fileLock);
    if (m_stage == Stage::done)
        return;
    m_prepared = false;
    m_finished = false;
    m_preparationError = 0;
    if (m_stage != Stage::ready)
        postPreparation(lock);
}

void CDownloadFile::cancel()
{
    std::shared_ptr<UrlRefreshTask> urlTask;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        m_cancelled = true;
        urlTask = m_urlTask;
    }
    // The completions are not waited for: a running task sees the flag and gives up.
    std::shared_ptr<CTrasfersAsyncTasksExecutor> executor = m_executor.lock();
    if (!executor)
        return;
    executor->removeTask(this);
    if (urlTask)
        executor->removeTask(urlTask.get());
}

void CDownloadFile::release()
{
    CFileChannelsInfo::ChannelList list;
    std::string tempToRemove;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        markReleased();
        // A task still running after its group is gone must not reach it.
        m_owner = nullptr;
        channels.getAllChannels(list);
        if ((m_cancelled || m_cancelledByChannel) && m_stage != Stage::done)
            tempToRemove.swap(m_tempPath);
        m_subscribed = false;
    }
    for (const auto& channel : list) {
        channel->stateEvent -= Poco::delegate(this, &CDownloadFile::onChannelState);
        channel->progressEvent -= Poco::delegate(this, &CDownloadFile::onChannelProgress);
        channel->setOwnerFile(nullptr);
    }
    if (!tempToRemove.empty()) {
        FV_LOG_WARNING("File object is being destroyed, but temporary file exists. Removing it...");
        m_environment.fileSystem->removeFile(tempToRemove);
    }
}

bool CDownloadFile::removeFromDb()
{
    std::string uid;
    getFileUid(uid);
    const bool channelsRemoved = m_environment.channels->removeByFileUid(uid);
    return m_environment.files->removeByFileUid(uid) && channelsRemoved;
}

void CDownloadFile::removeRows()
{
    if (!removeFromDb())
        FV_LOG_ERROR(logPrefix() << "Unable to remove the rows of a completed file");
}

int CDownloadFile::exec(std::shared_ptr<CTrasfersAsyncTasksExecutor::IAsyncTaskParams>&, const CStopToken& stop)
{
    int result = dt_general_error;
    try {
        result = runPreparation(stop);
    } catch (const std::exception& e) {
        FV_LOG_ERROR("fv_transfers::CDownloadFile::exec: Exception: " << e.what());
    }
    IDownloadFileOwner* owner = nullptr;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        if (result != dt_success && result != kUpToDate)
            m_preparationError = result;
        m_preparing = false;
        owner = m_owner;
    }
    if (owner && owner->getDownloadEngine())
        owner->getDownloadEngine()->wakeUp();
    return result;
}

int CDownloadFile::runPreparation(const CStopToken& stop)
{
    Stage stage;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        if (m_cancelled || released)
            return dt_cancelled;
        stage = m_stage;
    }
    if (stage == Stage::needsFinish)
        return finishRestored(stop);
    if (stage != Stage::needsPlan)
        return dt_success;
    if (isUpToDate()) {
        removeRows();
        std::lock_guard<std::mutex> guard(fileLock);
        m_stage = Stage::done;
        m_bytesDownloaded = m_details.size;
        return kUpToDate;
    }
    return planAndCreate(stop);
}

bool CDownloadFile::isUpToDate()
{
    std::string finalPath;
    FileDownloadDetails details;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        finalPath = m_finalPath;
        details = m_details;
    }
    const TargetFileStatus local = m_environment.fileSystem->status(finalPath);
    if (!local.exists) {
        FV_LOG_INFO("File " << finalPath << " does not exist on the file system. Download required.");
        return false;
    }
    // A newer file of another size is someone else's: download over it (at completion only).
    if (local.modifiedMs / 1000 >= details.modified / 1000 && local.size == details.size) {
        FV_LOG_INFO("File exists on the file system and its last modificaion time is greater or the same as the one "
                    "on server");
        return true;
    }
    return false;
}

int CDownloadFile::fetchDetails(RestDownloadDetails& result)
{
    FileRequestParams params;
    IDownloadFileOwner* owner = nullptr;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        params.fileId = m_details.id;
        owner = m_owner;
    }
    if (!owner)
        return dt_cancelled;
    owner->getBucketId(params.bucketId);
    owner->getBucketToken(params.token);
    CRestApiDownloadDetails call;
    dt_error error = call.execute(params);
    if (error == dt_success)
        error = call.getResult(result);
    if (error != dt_success) {
        FV_LOG_ERROR(logPrefix() << "Unable to obtain download details. Error code: " << error);
        return error;
    }
    {
        std::lock_guard<std::mutex> guard(fileLock);
        m_details.downloadDetails = {result.url, result.expires};
    }
    if (!m_environment.files->updateDirectUrl(params.fileId, result.url, result.expires))
        FV_LOG_WARNING(logPrefix() << "Unable to store the download URL");
    return dt_success;
}

int CDownloadFile::fetchManifest(const std::string& url, DownloadManifest& manifest, bool& usable)
{
    FV_LOG_INFO("Downloading manifest using URL: " << url);
    std::string text;
    const dt_error error = fetchUrlContent(url, text);
    if (error != dt_success) {
        FV_LOG_ERROR("Error " << error
                              << " in function fv_transfers::CDownloadFile::exec : Failed to download manifest");
        return error;
    }
    // A manifest the parser refuses still leaves a file that can be divided without it.
    usable = CManifestFileParser::parse(text, manifest) == CManifestFileParser::kSuccess;
    if (!usable)
        FV_LOG_WARNING(logPrefix() << "The manifest was refused; the file is divided without it");
    return dt_success;
}

int CDownloadFile::planAndCreate(const CStopToken& stop)
{
    RestDownloadDetails rest;
    int error = fetchDetails(rest);
    if (error != dt_success)
        return error;
    DownloadManifest manifest;
    bool haveManifest = false;
    if (!rest.multipartManifestUrl.empty()) {
        error = fetchManifest(rest.multipartManifestUrl, manifest, haveManifest);
        if (error != dt_success)
            return error;
    }
    if (stop.stopRequested())
        return dt_cancelled;
    FileDownloadDetails details;
    getDetails(details);
    const std::string digest = rest.md5Digest.empty() ? details.md5Digest : rest.md5Digest;
    const std::vector<PlannedRange> ranges =
        planDownloadRanges(details.size, digest, haveManifest ? &manifest : nullptr, m_partSize);
    FV_LOG_INFO(logPrefix() << "File is divided into " << ranges.size() << " parts.");

    discardPlan();
    error = createTempFile(details.size);
    if (error != dt_success)
        return error;
    if (!storePlan(ranges)) {
        FV_LOG_ERROR(logPrefix() << "Unable to store the download plan of the file");
        return dt_general_error;
    }
    buildChannels(ranges, std::vector<std::uint64_t>(ranges.size(), 0), std::vector<bool>(ranges.size(), false));
    std::lock_guard<std::mutex> guard(fileLock);
    m_stage = Stage::ready;
    return dt_success;
}

void CDownloadFile::discardPlan()
{
    std::string uid;
    std::string oldTemp;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        uid = m_details.id;
        oldTemp.swap(m_tempPath);
    }
    m_environment.channels->removeByFileUid(uid);
    if (!oldTemp.empty())
        m_environment.fileSystem->removeFile(oldTemp);
}

int CDownloadFile::createTempFile(std::uint64_t size)
{
    std::string folder;
    std::string finalPath;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        folder = m_folder;
        finalPath = m_finalPath;
    }
    ITargetFileSystem& fs = *m_environment.fileSystem;
    std::string tempPath;
    if (fs.createFolders(folder) != 0 || fs.createTempFile(finalPath, tempPath) != 0) {
        FV_LOG_ERROR("File creation failure");
        return dt_local_file_error;
    }
    FV_LOG_INFO("Temporary file name: " << tempPath);
    const int reserved = fs.preallocate(tempPath, size);
    if (reserved != 0) {
        FV_LOG_ERROR(logPrefix() << "Unable to reserve " << size << " bytes for the file (errno " << reserved << ")");
        fs.removeFile(tempPath);
        return dt_local_file_error;
    }
    bool abandoned = false;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        abandoned = m_cancelled || released;
        if (!abandoned)
            m_tempPath = tempPath;
    }
    if (abandoned) {
        fs.removeFile(tempPath);
        return dt_cancelled;
    }
    return dt_success;
}

bool CDownloadFile::storePlan(const std::vector<PlannedRange>& ranges)
{
    FileDownloadDetails details;
    std::string tempPath;
    std::int32_t groupId = 0;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        details = m_details;
        tempPath = m_tempPath;
        groupId = m_groupId;
    }
    std::vector<CDownloadChannelsDbInfo::ChannelInfo> rows;
    for (const PlannedRange& range : ranges)
        rows.push_back({details.id, range.offset, range.size, ITransferChannel::stateNew, range.md5, 0});
    // The row names the temporary file first: a crash after it leaves a file restore can find.
    return m_environment.files->insert(details, groupId, utf8ToWide(tempPath)) &&
           m_environment.channels->insertPlan(details.id, rows);
}

void CDownloadFile::buildChannels(const std::vector<PlannedRange>& ranges,
                                  const std::vector<std::uint64_t>& checkpoints, const std::vector<bool>& done)
{
    std::shared_ptr<ITransferBufferManager> buffers = m_buffers;
    IDownloadFileOwner* owner = nullptr;
    std::string tempPath;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        owner = m_owner;
        tempPath = m_tempPath;
    }
    if (!buffers && owner && owner->getDownloadEngine())
        buffers = owner->getDownloadEngine()->getBufferManager();
    std::vector<std::shared_ptr<CDownloadChannel>> built;
    std::uint64_t restoredBytes = 0;
    std::uint32_t rangesDone = 0;
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        if (done[i]) {
            restoredBytes += ranges[i].size;
            ++rangesDone;
            continue;
        }
        restoredBytes += checkpoints[i];
        DownloadChannelParams params{tempPath, ranges[i].offset, ranges[i].size, ranges[i].md5, checkpoints[i], false};
        auto channel =
            std::make_shared<CDownloadChannel>(params, this, this, static_cast<int>(i), buffers, m_environment.channels,
                                               m_environment.channelSeams, m_environment.checkpoints);
        channel->stateEvent += Poco::delegate(this, &CDownloadFile::onChannelState);
        channel->progressEvent += Poco::delegate(this, &CDownloadFile::onChannelProgress);
        built.push_back(channel);
    }
    std::lock_guard<std::mutex> guard(fileLock);
    channels = CFileChannelsInfo();
    for (const auto& channel : built)
        channels.addChannel(channel);
    m_subscribed = true;
    m_rangesTotal = static_cast<std::uint32_t>(ranges.size());
    m_rangesDone = rangesDone;
    m_bytesDownloaded = restoredBytes;
}

int CDownloadFile::finishRestored(const CStopToken& stop)
{
    std::string tempPath;
    std::string finalPath;
    std::vector<PlannedRange> ranges;
    std::uint64_t size = 0;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        tempPath = m_tempPath;
        finalPath = m_finalPath;
        ranges = m_restoredRanges;
        size = m_details.size;
    }
    ITargetFileSystem& fs = *m_environment.fileSystem;
    const TargetFileStatus temp = tempPath.empty() ? TargetFileStatus() : fs.status(tempPath);
    bool placed = false;
    if (temp.exists && temp.size == size) {
        placed = putInPlace(tempPath) == 0;
    } else {
        // A crash after the rename and before the rows went: the final file is ours only when its
        // bytes are those the ranges were checked against.
        const TargetFileStatus final = fs.status(finalPath);
        if (final.exists && final.size == size && finalMatchesRanges(ranges)) {
            std::uint64_t modified = 0;
            {
                std::lock_guard<std::mutex> guard(fileLock);
                modified = m_details.modified;
            }
            fs.setModificationTime(finalPath, modified);
            removeRows();
            placed = true;
        }
    }
    if (placed) {
        std::lock_guard<std::mutex> guard(fileLock);
        m_stage = Stage::done;
        m_tempPath.clear();
        m_bytesDownloaded = size;
        return kUpToDate;
    }
    FV_LOG_WARNING(logPrefix() << "A restored completed file is not on disk; downloading it again");
    {
        std::lock_guard<std::mutex> guard(fileLock);
        m_stage = Stage::needsPlan;
    }
    return planAndCreate(stop);
}

bool CDownloadFile::finalMatchesRanges(const std::vector<PlannedRange>& ranges)
{
    std::wstring finalPath;
    std::string fileMd5;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        finalPath = utf8ToWide(m_finalPath);
        fileMd5 = m_details.md5Digest;
    }
    const bool everyRangeChecked =
        std::all_of(ranges.begin(), ranges.end(), [](const PlannedRange& range) { return !range.md5.empty(); });
    if (everyRangeChecked) {
        for (const PlannedRange& range : ranges) {
            std::string md5;
            if (range.size > 0 &&
                (!calculateFileMd5Hex(md5, finalPath, range.offset, range.size) || !sameDigest(md5, range.md5)))
                return false;
        }
        return true;
    }
    std::string md5;
    return isPlainMd5(fileMd5) && calculateFileMd5Hex(md5, finalPath, 0, 0) && sameDigest(md5, fileMd5);
}

int CDownloadFile::putInPlace(const std::string& tempPath)
{
    std::string finalPath;
    std::string folder;
    std::uint64_t modified = 0;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        finalPath = m_finalPath;
        folder = m_folder;
        modified = m_details.modified;
    }
    ITargetFileSystem& fs = *m_environment.fileSystem;
    const int renamed = fs.rename(tempPath, finalPath);
    if (renamed != 0) {
        FV_LOG_ERROR("Exception when renaming file from " << tempPath << " to " << finalPath);
        return renamed;
    }
    if (fs.syncFolder(folder) != 0)
        FV_LOG_WARNING(logPrefix() << "Unable to make the rename durable in " << folder);
    FV_LOG_INFO("Setting modification time to " << modified);
    if (fs.setModificationTime(finalPath, modified) != 0)
        FV_LOG_WARNING("Unable to set file modification time to: " << modified);
    removeRows();
    return 0;
}

void CDownloadFile::completeDownload()
{
    std::string tempPath;
    std::uint64_t size = 0;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        tempPath = m_tempPath;
        size = m_details.size;
    }
    const TargetFileStatus temp = m_environment.fileSystem->status(tempPath);
    std::int32_t state = CTransferManagerBase::FILE_COMPLETED;
    std::int32_t errorCode = 0;
    bool discard = false;
    if (!temp.exists || temp.size != size) {
        FV_LOG_ERROR(logPrefix() << "Downloaded file size " << temp.size << " does not match " << size);
        state = CTransferManagerBase::FILE_ERRORED;
        discard = true;
    } else if (putInPlace(tempPath) != 0) {
        state = CTransferManagerBase::FILE_ERRORED;
        errorCode = ITransferChannel::outcomeLocalFile;
    }
    CTransferManagerBase::FileState snapshot;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        if (state == CTransferManagerBase::FILE_COMPLETED) {
            m_stage = Stage::done;
            m_tempPath.clear();
        }
        m_tracker.stop();
        snapshot = snapshotLocked(state, errorCode);
    }
    notifyOwner(0, snapshot, discard);
}

ITransferChannel* CDownloadFile::channelOf(const void* sender)
{
    CFileChannelsInfo::ChannelList list;
    channels.getAllChannels(list);
    for (const auto& channel : list) {
        // Events come from the base, so the sender is the channel's base address.
        auto* base = dynamic_cast<CTransferChannelBase*>(channel.get());
        if (static_cast<const void*>(base) == sender)
            return channel.get();
    }
    return nullptr;
}

void CDownloadFile::onChannelState(const void* sender, ITransferChannel::StateEventData& data)
{
    const std::shared_ptr<CDownloadFile> keep = weak_from_this().lock();
    Lock lock(fileLock);
    if (m_finished || !m_subscribed)
        return;
    ITransferChannel* channel = channelOf(sender);
    switch (data.state) {
    case ITransferChannel::stateCompleted: {
        FV_LOG_INFO(logPrefix() << "One of the channels has successfully completed download!");
        channels.setChannelState(channel, ITransferChannel::stateCompleted);
        ++m_rangesDone;
        if (m_rangesDone < m_rangesTotal)
            return;
        m_finished = true;
        lock.unlock();
        completeDownload();
        return;
    }
    case ITransferChannel::stateErrored: {
        channels.setChannelState(channel, ITransferChannel::stateErrored);
        m_finished = true;
        m_tracker.stop();
        const CTransferManagerBase::FileState snapshot =
            snapshotLocked(CTransferManagerBase::FILE_ERRORED, data.outcome);
        lock.unlock();
        notifyOwner(0, snapshot, false);
        return;
    }
    case ITransferChannel::stateStopRequested:
        m_cancelledByChannel = true;
        m_finished = true;
        return;
    default: return;
    }
}

void CDownloadFile::onChannelProgress(const void*, Poco::Int64& delta)
{
    const std::shared_ptr<CDownloadFile> keep = weak_from_this().lock();
    Lock lock(fileLock);
    if (m_finished || !m_subscribed)
        return;
    if (delta < 0)
        m_bytesDownloaded -= std::min<std::uint64_t>(m_bytesDownloaded, static_cast<std::uint64_t>(-delta));
    else
        m_bytesDownloaded += static_cast<std::uint64_t>(delta);
    m_tracker.AddData(delta);
    const CTransferManagerBase::FileState snapshot = snapshotLocked(CTransferManagerBase::FILE_TRANSFERRING, 0);
    lock.unlock();
    notifyOwner(delta, snapshot, false);
}

CTransferManagerBase::FileState CDownloadFile::snapshotLocked(std::int32_t state, std::int32_t errorCode)
{
    CTransferManagerBase::FileState snapshot;
    snapshot.fileId = m_details.id;
    snapshot.state = state;
    snapshot.errorCode = errorCode;
    snapshot.bytesTransferred = m_bytesDownloaded;
    snapshot.bytesTotal = m_details.size;
    snapshot.bytesTransferredPerSecond = m_tracker.GetLastTransferSpeed();
    snapshot.estimatedEta = m_tracker.GetEtaMs();
    snapshot.percentTransferred =
        m_details.size == 0
            ? 100.0f
            : static_cast<float>(static_cast<double>(m_bytesDownloaded) * 100.0 / static_cast<double>(m_details.size));
    return snapshot;
}

void CDownloadFile::notifyOwner(std::int64_t delta, const CTransferManagerBase::FileState& snapshot, bool discard)
{
    IDownloadFileOwner* owner = nullptr;
    FileDownloadDetails details;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        owner = m_owner;
        details = m_details;
    }
    if (owner && !owner->isCancelled())
        owner->notifyFileStateChanged(details, delta, snapshot, discard);
}

int CDownloadFile::getDownloadUrl(std::string& url, bool force)
{
    std::shared_ptr<TaskCompletion> flight;
    {
        Lock lock(fileLock);
        FV_LOG_DEBUG(logPrefix() << "Got request from channel for download url");
        if (m_cancelled || released)
            return dt_cancelled;
        // Channels refused together ask one after another: those that ask after the refresh
        // ended find their URL replaced and take the fresh one.
        const std::string& current = m_details.downloadDetails.url;
        if (urlValid() && (!force || (!url.empty() && url != current))) {
            url = current;
            return dt_success;
        }
        if (!m_urlRefresh || m_urlRefresh->isFinished()) {
            FV_LOG_INFO(logPrefix() << "Trying to fetch new download URL");
            m_details.downloadDetails = DownloadDetails();
            std::shared_ptr<UrlRefreshTask> task = m_urlTask;
            std::shared_ptr<CTrasfersAsyncTasksExecutor> executor = m_executor.lock();
            if (!executor)
                return dt_cancelled;
            // Queued under the file's lock: a channel asking in between would otherwise find no
            // flight and start a second refresh. The executor never calls back under its lock.
            flight = executor->queueTask(task);
            m_urlRefresh = flight;
        } else {
            FV_LOG_INFO(logPrefix() << "URL update task is in progress, waiting for it to complete...");
            flight = m_urlRefresh;
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + m_environment.urlWait;
    // The completion wakes when the executor ends; a cancel of the file is seen between slices.
    while (!flight->waitFor(std::chrono::milliseconds(100))) {
        std::lock_guard<std::mutex> guard(fileLock);
        if (m_cancelled || released)
            return dt_cancelled;
        if (std::chrono::steady_clock::now() >= deadline) {
            FV_LOG_ERROR(logPrefix() << "Unable to obtain URL to a file: the refresh did not end in time");
            return dt_timeout;
        }
    }
    if (flight->result() != dt_success) {
        FV_LOG_ERROR("Unable to obtain URL to a file. Error code: " << flight->result());
        return flight->result();
    }
    std::lock_guard<std::mutex> guard(fileLock);
    if (m_details.downloadDetails.url.empty())
        return dt_unexpected_http_response;
    url = m_details.downloadDetails.url;
    FV_LOG_DEBUG("Obtained URL to a file: " << url);
    return dt_success;
}

int CDownloadFile::refreshUrl()
{
    RestDownloadDetails rest;
    return fetchDetails(rest);
}

bool CDownloadFile::urlValid() const
{
    return !m_details.downloadDetails.url.empty() &&
           m_details.downloadDetails.expires >= CTransferProgressTracker::systemNowMs();
}

void CDownloadFile::getDetails(FileDownloadDetails& details)
{
    std::lock_guard<std::mutex> guard(fileLock);
    details = m_details;
}

void CDownloadFile::getChannels(std::vector<std::shared_ptr<ITransferChannel>>& list)
{
    std::lock_guard<std::mutex> guard(fileLock);
    channels.getAllChannels(list);
}

void CDownloadFile::fillProgress(CTransferManagerBase::FileState& snapshot)
{
    std::lock_guard<std::mutex> guard(fileLock);
    const std::int32_t state =
        m_stage == Stage::done ? CTransferManagerBase::FILE_COMPLETED : CTransferManagerBase::FILE_TRANSFERRING;
    snapshot = snapshotLocked(state, 0);
}

std::uint64_t CDownloadFile::getBytesDownloaded()
{
    std::lock_guard<std::mutex> guard(fileLock);
    return m_bytesDownloaded;
}

std::string CDownloadFile::getFinalPath()
{
    std::lock_guard<std::mutex> guard(fileLock);
    return m_finalPath;
}

std::string CDownloadFile::getTempPath()
{
    std::lock_guard<std::mutex> guard(fileLock);
    return m_tempPath;
}

void CDownloadFile::getFileUid(std::string& uid)
{
    std::lock_guard<std::mutex> guard(fileLock);
    uid = m_details.id;
}

void CDownloadFile::getBucketId(std::string& bucketId)
{
    IDownloadFileOwner* owner = nullptr;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        owner = m_owner;
    }
    if (owner)
        owner->getBucketId(bucketId);
}

int CDownloadFile::getGroupId()
{
    std::lock_guard<std::mutex> guard(fileLock);
    return m_groupId;
}

} // namespace fv_transfers
