#include "upload/UploadFileBase.h"

#include "core/base/DtError.h"
#include "core/base/StringConversion.h"
#include "core/files/FileUrl.h"
#include "core/files/LocalFileInfo.h"
#include "core/log/FvTransfersLogger.h"
#include "core/rest/RestApiFileDetailsFetch.h"
#include "core/rest/RestApiMultiPartUploadAbort.h"
#include "core/watch/FileWatcher.h"
#include "db/DbHolder.h"
#include "upload/UploadChannel.h"
#include "upload/UploadEngineCallback.h"
#include "upload/UploadFileOwner.h"

#include <Poco/Delegate.h>
#include <Poco/DigestEngine.h>

#include <algorithm>
#include <exception>

namespace fv_transfers {

namespace {

// A URL about to expire is replaced before its PUT. The storage checks it when the request
// starts, so the margin only covers the way there; it must stay well below the shortest
// validity the service hands out.
constexpr std::int64_t kExpiryMarginSeconds = 1;

UploadFileEnvironment completed(UploadFileEnvironment environment)
{
    // Held weakly (m_executor): a queued task holds its file, so a file holding its executor
    // would keep both alive, and could end the executor on one of its own workers.
    environment.executor.reset();
    if (!environment.files || !environment.channels) {
        const std::shared_ptr<CDbHolder> holder = CDbHolder::getInstance();
        if (!environment.files)
            environment.files = holder->getFilesDbInfo();
        if (!environment.channels)
            environment.channels = holder->getChannelsDbInfo();
    }
    return environment;
}

std::int64_t nowSeconds()
{
    return static_cast<std::int64_t>(CTransferProgressTracker::systemNowMs() / 1000);
}

std::int32_t errorCodeOfOutcome(std::int32_t outcome)
{
    switch (outcome) {
    case ITransferChannel::outcomeConnect: return CUploadFileBase::errorConnect;
    case ITransferChannel::outcomeLocalFile: return CUploadFileBase::errorLocalFile;
    default: return CUploadFileBase::errorTransfer;
    }
}

} // namespace

// Work of the file other than its preparation: queued on the file itself it would merge with a
// waiting preparation.
class CUploadFileBase::CallTask : public CTrasfersAsyncTasksExecutor::IAsyncTask {
public:
    using Body = std::function<int(const CStopToken&)>;
    explicit CallTask(Body body) : m_body(std::move(body)) {}
    int exec(std::shared_ptr<CTrasfersAsyncTasksExecutor::IAsyncTaskParams>&, const CStopToken& stop) override
    {
        return m_body(stop);
    }

private:
    const Body m_body;
};

CUploadFileBase::CUploadFileBase(bool multipart, std::uint64_t minMultipartSize,
                                 const UploadFileEnvironment& environment)
    : m_multipart(multipart), m_executor(environment.executor), m_minMultipartSize(minMultipartSize),
      m_environment(completed(environment)), m_detailsWait(environment.detailsWait)
{
}

// Event handlers take no hold of the file: the last one ending on a channel's thread would end
// the file there, and its channels cannot be joined from their own thread. A file ending
// elsewhere joins them before its members go.
CUploadFileBase::~CUploadFileBase()
{
    try {
        // No queued task holds the file any more (entries own it), so none is left to remove; the
        // executor is not touched, as the last hold of it must not end on one of its workers.
        {
            std::lock_guard<std::mutex> guard(fileLock);
            markReleased();
            m_finished = true;
        }
        takeWatcher();
        // No channel may call into a file that is gone.
        CFileChannelsInfo::ChannelList list;
        channels.getAllChannels(list);
        for (const auto& channel : list)
            channel->stop();
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Exception caught in destructor of CUploadFileBase: " << e.what());
    }
}

std::string CUploadFileBase::logPrefix() const
{
    return "[File " + m_desc.fileUid + "] ";
}

void CUploadFileBase::initializeNew(const UploadFileDesc& desc, IUploadFileOwner* owner, std::uint64_t fileSize)
{
    const std::int32_t groupId = owner->getGroupId();
    const std::wstring path = urlToLocalPath(desc.fileUrl).value_or(std::wstring());
    LocalFileInfo info;
    const std::int64_t modified =
        readLocalFileInfo(wideToUtf8(path), info) ? static_cast<std::int64_t>(info.modifiedMs / 1000) : 0;
    FV_LOG_INFO("Initializing upload of a file with id " << desc.fileUid << ". File path: " << wideToUtf8(path));
    adopt(owner);
    Lock lock(fileLock);
    m_desc = desc;
    m_localPath = path;
    m_groupId = groupId;
    m_fileSize = fileSize;
    m_lastModified = modified;
    m_stage = Stage::needsPlan;
    lock.unlock();

    // Inserting replaces a stored row and wipes its upload id, so only a file known to be absent
    // is inserted.
    bool present = false;
    const auto size = static_cast<std::int64_t>(fileSize);
    if (!m_environment.files->exists(desc.fileUid, present))
        FV_LOG_ERROR(logPrefix() << "Unable to learn whether the file is stored");
    else if (!present ? !m_environment.files->insert(desc, groupId, size, modified)
                      : !m_environment.files->updateSizeAndLastModified(desc.fileUid, size, modified))
        FV_LOG_ERROR(logPrefix() << "Unable to store the file");
    lock.lock();
    postPreparation(lock);
}

void CUploadFileBase::initializeRestored(const CFilesDbInfo::FileInfo& row,
                                         const std::vector<CChannelsDbInfo::ChannelInfo>& rows, IUploadFileOwner* owner)
{
    const std::int32_t groupId = owner->getGroupId();
    adopt(owner);
    Lock lock(fileLock);
    m_desc = UploadFileDesc{row.FileUid, row.FileLocalUri};
    m_localPath = urlToLocalPath(row.FileLocalUri).value_or(std::wstring());
    m_groupId = groupId;
    m_restoredRow = row;
    m_restoredChannels = rows;
    m_uploadId = row.UploadId;
    m_lastModified = row.LastModified;
    std::uint64_t sum = 0;
    for (const auto& channel : rows)
        sum += channel.BytesToUpload;
    m_fileSize = row.FileSize == CFilesDbInfo::kUnknownFileSize ? sum : static_cast<std::uint64_t>(row.FileSize);
    FV_LOG_INFO("Extracted from DB " << rows.size() << " upload channels for file with id " << row.FileUid);
    if (row.Completed) {
        m_stage = Stage::done;
        m_bytesSent = m_fileSize;
        return;
    }
    // Prepared only when its group starts it: a group paused at start-up (its bucket no longer
    // takes uploads) asks nothing of the service.
    m_stage = Stage::needsCheck;
}

void CUploadFileBase::postPreparation(Lock&)
{
    const std::shared_ptr<CTrasfersAsyncTasksExecutor> executor = m_executor.lock();
    if (!executor || m_cancelled || released)
        return;
    if (!m_refreshTask) {
        const std::weak_ptr<CUploadFileBase> weak = weak_from_this();
        m_refreshTask = std::make_shared<CallTask>([weak](const CStopToken&) {
            const std::shared_ptr<CUploadFileBase> file = weak.lock();
            return file ? file->refreshUrls() : static_cast<int>(dt_cancelled);
        });
    }
    const std::weak_ptr<CUploadFileBase> weak = weak_from_this();
    // Queued under the file's lock, so that prepareUpload never sees a gap with no flight; the
    // executor never calls back under its own lock.
    m_preparation = executor->queueTask(shared_from_this(), nullptr, [weak](int result) {
        if (const std::shared_ptr<CUploadFileBase> file = weak.lock())
            file->onPreparationEnded(result);
    });
}

void CUploadFileBase::onPreparationEnded(int result)
{
    if (result == dt_file_status_exception)
        onFileStatusException();
    {
        std::lock_guard<std::mutex> guard(fileLock);
        m_preparationEnded = true;
        m_preparationResult = result;
    }
    if (m_engine)
        m_engine->wakeUp();
}

void CUploadFileBase::adopt(IUploadFileOwner* owner)
{
    // Before any other thread knows the file, so without the gate: its group may be making it
    // under the group lock, which calls through the gate take after it. What never changes in
    // a group is copied, so that only its events need the group itself.
    m_owner = owner;
    owner->getBucketId(m_bucketId);
    owner->getBucketToken(m_bucketToken);
    m_verify = owner->verifyUploads();
    m_engine = owner->getUploadEngine();
}

bool CUploadFileBase::withOwner(const std::function<void(IUploadFileOwner&)>& call)
{
    std::shared_lock<std::shared_mutex> gate(m_ownerGate);
    if (!m_owner)
        return false;
    call(*m_owner);
    return true;
}

bool CUploadFileBase::needsInitialization()
{
    std::lock_guard<std::mutex> guard(fileLock);
    return m_stage != Stage::ready && m_stage != Stage::done;
}

int CUploadFileBase::prepareUpload()
{
    Lock lock(fileLock);
    if (m_cancelled || released)
        return dt_interrupted;
    if (m_fileStatusLogged)
        return dt_file_status_exception; // its dequeue is asked; nothing more is tried
    if (m_stage == Stage::ready || m_stage == Stage::done)
        return dt_success;
    if (m_preparation && !m_preparationEnded && !m_preparation->isFinished())
        return kNotReady;
    if (m_preparation) {
        const int result = m_preparationEnded     ? m_preparationResult
                           : m_preparation->ran() ? m_preparation->result()
                                                  : static_cast<int>(dt_interrupted);
        m_preparation.reset();
        m_preparationEnded = false;
        if (result != dt_success)
            return result;
    }
    postPreparation(lock);
    return m_preparation ? kNotReady : static_cast<int>(dt_interrupted);
}

int CUploadFileBase::exec(std::shared_ptr<CTrasfersAsyncTasksExecutor::IAsyncTaskParams>&, const CStopToken& stop)
{
    try {
        return runPreparation(stop);
    } catch (const std::exception& e) {
        FV_LOG_ERROR(logPrefix() << "Preparation failed: " << e.what());
        return dt_general_error;
    }
}

int CUploadFileBase::runPreparation(const CStopToken& stop)
{
    Stage stage;
    bool fromScratch = false;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        if (m_cancelled || released)
            return dt_interrupted;
        stage = m_stage;
        fromScratch = m_fromScratch;
        m_changedOnDisk = false;
    }
    int result = dt_success;
    if (stage == Stage::ready || stage == Stage::done)
        return dt_success;
    if (stage == Stage::needsChannels) {
        bool allSent = false;
        {
            std::lock_guard<std::mutex> guard(fileLock);
            allSent = std::all_of(m_parts.begin(), m_parts.end(), [](const PartState& part) { return part.done; });
        }
        if (allSent)
            return finishWhenAllSent();
        buildChannels();
        return dt_success;
    }
    if (stage == Stage::needsCheck && !fromScratch)
        result = checkRestored(stop);
    else
        result = planFromScratch(stop);
    if (result != dt_success)
        return result;
    std::vector<std::shared_ptr<ITransferChannel>> dropped;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        if (!m_changedOnDisk || m_stage == Stage::done)
            return dt_success;
        // Read while it changed: what was digested and planned is not what is on disk.
        FV_LOG_WARNING(logPrefix() << "Change detected in file");
        m_fromScratch = true;
        m_stage = Stage::needsPlan;
        channels.getAllChannels(dropped);
        channels = CFileChannelsInfo();
        m_partChannels.clear();
        m_partOfChannel.clear();
    }
    return dt_file_changed;
}

int CUploadFileBase::readLocalFile(std::uint64_t& size, std::int64_t& modifiedSeconds)
{
    std::wstring path;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        path = m_localPath;
    }
    LocalFileInfo info;
    if (path.empty() || !readLocalFileInfo(wideToUtf8(path), info)) {
        FV_LOG_ERROR(logPrefix() << "Unable to read the local file " << wideToUtf8(path));
        return dt_local_file_error;
    }
    size = info.size;
    modifiedSeconds = static_cast<std::int64_t>(info.modifiedMs / 1000);
    return dt_success;
}

int CUploadFileBase::checkRestored(const CStopToken& stop)
{
    CFilesDbInfo::FileInfo row;
    std::vector<CChannelsDbInfo::ChannelInfo> rows;
    std::uint64_t storedSize = 0;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        row = m_restoredRow;
        rows = m_restoredChannels;
        storedSize = m_fileSize;
    }
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    const int read = readLocalFile(size, modified);
    if (read != dt_success)
        return read;
    if (size != storedSize) {
        FV_LOG_WARNING(logPrefix() << "The file's size " << size << " is not the stored " << storedSize
                                   << "; uploading it from scratch");
        return planFromScratch(stop);
    }
    if (modified != row.LastModified) {
        FV_LOG_WARNING(logPrefix() << "Change detected in file");
        std::lock_guard<std::mutex> guard(fileLock);
        m_fromScratch = true;
        return dt_file_changed;
    }
    std::sort(rows.begin(), rows.end(),
              [](const CChannelsDbInfo::ChannelInfo& a, const CChannelsDbInfo::ChannelInfo& b) {
                  return a.LocalOffset < b.LocalOffset;
              });
    std::vector<PartState> parts;
    std::vector<UploadPart> plan;
    for (const auto& channel : rows) {
        PartState part;
        part.part =
            UploadPart{static_cast<std::uint32_t>(parts.size() + 1), channel.LocalOffset, channel.BytesToUpload};
        part.url = channel.Url;
        part.headers = channel.headers;
        part.urlExpires = channel.UrlExpires;
        part.done = channel.State == ITransferChannel::stateCompleted;
        parts.push_back(part);
        plan.push_back(part.part);
    }
    if (!uploadPartsTile(plan, size) || (parts.size() >= 2 && row.UploadId.empty())) {
        FV_LOG_WARNING(logPrefix() << "The stored plan is not whole; uploading the file from scratch");
        return planFromScratch(stop);
    }
    bool expired = false;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        m_parts = parts;
        m_asks.assign(parts.size(), 0);
        for (std::size_t i = 0; i < parts.size(); ++i) {
            m_partOfUrl[parts[i].url] = static_cast<int>(i);
            expired = expired || (!parts[i].done && urlExpired(parts[i]));
        }
        m_stage = Stage::needsPlan; // until the channels are built
    }
    startWatching();
    if (std::all_of(parts.begin(), parts.end(), [](const PartState& part) { return part.done; }))
        return finishWhenAllSent();
    if (expired) {
        const int refreshed = refreshUrls();
        if (refreshed != dt_success)
            return refreshed;
    }
    buildChannels();
    return dt_success;
}

int CUploadFileBase::planFromScratch(const CStopToken& stop)
{
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    const int read = readLocalFile(size, modified);
    if (read != dt_success)
        return read;
    std::string uid;
    std::string oldUploadId;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        if (!m_fromScratch && m_stage == Stage::needsPlan && size != m_fileSize) {
            FV_LOG_ERROR("Upload File: Size of the file has changed since the first time it has been added to the "
                         "group!");
            m_fromScratch = true;
            return dt_file_changed;
        }
        m_fileSize = size;
        m_lastModified = modified;
        m_fromScratch = false;
        m_stage = Stage::needsPlan;
        uid = m_desc.fileUid;
        oldUploadId.swap(m_uploadId);
        m_parts.clear();
    }
    const auto storedSize = static_cast<std::int64_t>(size);
    if (!m_environment.files->updateSizeAndLastModified(uid, storedSize, modified))
        FV_LOG_WARNING(logPrefix() << "Unable to store the size and time of the file");
    if (!oldUploadId.empty())
        abortMultipart(callContext(), oldUploadId);
    m_environment.channels->removeByFileUid(uid);

    std::vector<UploadPart> plan =
        isMultipart() ? planUploadParts(size, m_minMultipartSize) : std::vector<UploadPart>{UploadPart{1, 0, size}};
    if (isMultipart())
        FV_LOG_INFO("Trying to divide file onto " << plan.size() << " parts. File uid: " << uid);
    startWatching();
    std::vector<PartState> parts;
    for (const UploadPart& part : plan) {
        PartState state;
        state.part = part;
        parts.push_back(state);
    }
    return openAndStore(std::move(parts), stop);
}

int CUploadFileBase::openAndStore(std::vector<PartState> planned, const CStopToken& stop)
{
    const CallContext context = callContext();
    OpenedUpload upload;
    upload.parts = std::move(planned);
    for (PartState& part : upload.parts) {
        part.done = false;
        part.url.clear();
        part.headers.clear();
        part.urlExpires = CChannelsDbInfo::kUnknownUrlExpiry;
    }
    if (stop.stopRequested())
        return dt_interrupted;
    const int opened = openUpload(context, upload, stop);
    if (opened != dt_success)
        return opened;
    bool abandoned = false;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        abandoned = m_cancelled || released;
    }
    if (abandoned || !storeParts(upload)) {
        if (!abandoned)
            FV_LOG_ERROR(logPrefix() << "Unable to store the upload plan of the file");
        if (!upload.uploadId.empty())
            abortMultipart(context, upload.uploadId);
        return abandoned ? static_cast<int>(dt_interrupted) : static_cast<int>(dt_rest_client_error);
    }
    {
        std::lock_guard<std::mutex> guard(fileLock);
        m_uploadId = upload.uploadId;
        m_parts = upload.parts;
        m_asks.assign(m_parts.size(), 0);
        for (std::size_t i = 0; i < m_parts.size(); ++i)
            m_partOfUrl[m_parts[i].url] = static_cast<int>(i);
    }
    buildChannels();
    return dt_success;
}

bool CUploadFileBase::storeParts(const OpenedUpload& upload)
{
    std::string uid;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        uid = m_desc.fileUid;
    }
    std::vector<CChannelsDbInfo::ChannelInfo> rows;
    for (const PartState& part : upload.parts) {
        CChannelsDbInfo::ChannelInfo row;
        row.FileUid = uid;
        row.Url = part.url;
        row.LocalOffset = part.part.offset;
        row.BytesToUpload = part.part.size;
        row.State = part.done ? ITransferChannel::stateCompleted : ITransferChannel::stateNew;
        row.headers = part.headers;
        row.UrlExpires = part.urlExpires;
        rows.push_back(row);
    }
    return m_environment.channels->replaceFilePlan(uid, upload.uploadId, rows);
}

void CUploadFileBase::startWatching()
{
    std::wstring path;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        if (m_watcher || m_cancelled || released)
            return;
        path = m_localPath;
    }
    auto watcher = std::make_unique<CFileWatcher>();
    watcher->changeEvent += Poco::delegate(this, &CUploadFileBase::onFileChanged);
    if (watcher->startMonitoring(path) != dt_success)
        FV_LOG_WARNING(logPrefix() << "Unable to watch the file for changes");
    std::lock_guard<std::mutex> guard(fileLock);
    if (!m_watcher && !released)
        m_watcher = std::move(watcher);
    // Otherwise the watcher ends here, outside the lock its callback takes.
}

std::unique_ptr<CFileWatcher> CUploadFileBase::takeWatcher()
{
    std::lock_guard<std::mutex> guard(fileLock);
    return std::move(m_watcher);
}

void CUploadFileBase::buildChannels()
{
    std::vector<PartState> parts;
    std::wstring path;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        parts = m_parts;
        path = m_localPath;
    }
    std::shared_ptr<ITransferBufferManager> buffers;
    if (m_engine)
        buffers = m_engine->getBufferManager();
    std::vector<std::shared_ptr<ITransferChannel>> built(parts.size());
    std::uint64_t sent = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].done) {
            sent += parts[i].part.size;
            continue;
        }
        const ChannelDescription range{wideToUtf8(path), parts[i].part.offset, parts[i].part.size, "ul", "upload"};
        auto channel =
            std::make_shared<CUploadChannel>(parts[i].url, range, parts[i].headers, this, this, static_cast<int>(i),
                                             buffers, m_environment.channels, false, m_environment.channelSeams);
        channel->stateEvent += Poco::delegate(this, &CUploadFileBase::onChannelState);
        channel->progressEvent += Poco::delegate(this, &CUploadFileBase::onChannelProgress);
        built[i] = channel;
    }
    std::vector<std::shared_ptr<ITransferChannel>> dropped;
    std::lock_guard<std::mutex> guard(fileLock);
    channels.getAllChannels(dropped);
    channels = CFileChannelsInfo();
    m_partOfChannel.clear();
    for (std::size_t i = 0; i < built.size(); ++i) {
        if (!built[i])
            continue;
        channels.addChannel(built[i]);
        m_partOfChannel[static_cast<const void*>(dynamic_cast<CTransferChannelBase*>(built[i].get()))] =
            static_cast<int>(i);
    }
    m_partChannels = built;
    m_bytesSent = sent;
    m_finished = false;
    m_stage = Stage::ready;
    m_tracker.start(m_fileSize);
    // `dropped` ends after the lock: a channel's end joins a thread that may wait for it.
}

int CUploadFileBase::finishWhenAllSent()
{
    std::string uploadId;
    std::uint32_t count = 0;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        uploadId = m_uploadId;
        count = static_cast<std::uint32_t>(m_parts.size());
    }
    FV_LOG_INFO(logPrefix() << "Every part was sent before; completing the upload");
    const int result = completeUpload(callContext(), uploadId, count);
    if (result != dt_success)
        return dt_general_error;
    completeFile();
    return dt_success;
}

int CUploadFileBase::refreshUrls()
{
    std::vector<PartState> planned;
    std::string oldUploadId;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        if (m_cancelled || released)
            return dt_interrupted;
        planned = m_parts;
        oldUploadId = m_uploadId;
    }
    FV_LOG_INFO(logPrefix() << "Refreshing the upload URLs of the file");
    CStopToken never;
    const CallContext context = callContext();
    OpenedUpload upload;
    upload.parts = planned;
    for (PartState& part : upload.parts)
        part.done = false;
    const int opened = openUpload(context, upload, never);
    if (opened != dt_success)
        return opened;
    if (!storeParts(upload)) {
        FV_LOG_ERROR(logPrefix() << "Unable to store the refreshed upload plan of the file");
        if (!upload.uploadId.empty())
            abortMultipart(context, upload.uploadId);
        return dt_rest_client_error;
    }
    // The parts of the old upload are lost with it.
    if (!oldUploadId.empty() && oldUploadId != upload.uploadId)
        abortMultipart(context, oldUploadId);
    std::lock_guard<std::mutex> guard(fileLock);
    m_uploadId = upload.uploadId;
    // What the old channels of a multipart upload still report went to the old upload: it
    // counts for nothing now. A single part's channel goes on with the new URL.
    if (isMultipart())
        m_partOfChannel.clear();
    for (std::size_t i = 0; i < m_parts.size() && i < upload.parts.size(); ++i) {
        m_parts[i] = upload.parts[i];
        m_parts[i].refused = false;
        m_partOfUrl[m_parts[i].url] = static_cast<int>(i);
    }
    m_asks.assign(m_parts.size(), 0);
    return dt_success;
}

int CUploadFileBase::getUploadDetails(std::string& url, RestHeaderList& headers, std::vector<unsigned char>& md5Bytes)
{
    std::shared_ptr<TaskCompletion> flight;
    int index = -1;
    {
        Lock lock(fileLock);
        if (m_cancelled || released)
            return dt_cancelled;
        index = partOfUrl(url);
        if (index < 0 && m_parts.size() == 1)
            index = 0;
        if (index < 0)
            return dt_general_error;
        const PartState& part = m_parts[static_cast<std::size_t>(index)];
        const bool retry = ++m_asks[static_cast<std::size_t>(index)] > 1;
        // A URL the storage refused is refreshed. Other failed attempts refresh once too, as a
        // refusal may come in any shape: a part of a multipart upload only when its expiry is
        // unknown, as a refresh there re-sends every part.
        const bool refreshOnRetry =
            part.refused ||
            (retry && (isMultipart() ? part.urlExpires == CChannelsDbInfo::kUnknownUrlExpiry : !m_refreshedOnRetry));
        if (!urlExpired(part) && !refreshOnRetry) {
            url = part.url;
            headers = part.headers;
            if (!part.md5Hex.empty())
                md5Bytes = Poco::DigestEngine::digestFromHex(part.md5Hex);
            return dt_success;
        }
        if (retry)
            m_refreshedOnRetry = true;
        if (!m_refresh || m_refresh->isFinished()) {
            const std::shared_ptr<CTrasfersAsyncTasksExecutor> executor = m_executor.lock();
            if (!executor)
                return dt_cancelled;
            m_refresh = executor->queueTask(m_refreshTask);
        }
        flight = m_refresh;
    }
    const auto deadline = std::chrono::steady_clock::now() + m_detailsWait;
    while (!flight->waitFor(std::chrono::milliseconds(100))) {
        std::lock_guard<std::mutex> guard(fileLock);
        if (m_cancelled || released)
            return dt_cancelled;
        if (std::chrono::steady_clock::now() >= deadline) {
            FV_LOG_ERROR(logPrefix() << "The upload URL refresh did not end in time");
            return dt_timeout;
        }
    }
    const int result = flight->result();
    if (result == dt_file_status_exception)
        onFileStatusException();
    if (result != dt_success)
        return result;
    if (isMultipart()) {
        // Parts already sent or on their way went to the old upload: every part is sent again,
        // by new channels with the new URLs, at once.
        FV_LOG_WARNING(logPrefix() << "The multipart upload was opened again; every part is sent again");
        std::string uid;
        {
            std::lock_guard<std::mutex> guard(fileLock);
            m_stage = Stage::needsChannels;
            uid = m_desc.fileUid;
        }
        withOwner([&](IUploadFileOwner& owner) { owner.restartFile(uid); });
        return dt_interrupted;
    }
    std::lock_guard<std::mutex> guard(fileLock);
    const PartState& part = m_parts[static_cast<std::size_t>(index)];
    url = part.url;
    headers = part.headers;
    m_asks[static_cast<std::size_t>(index)] = 1;
    if (!part.md5Hex.empty())
        md5Bytes = Poco::DigestEngine::digestFromHex(part.md5Hex);
    return dt_success;
}

void CUploadFileBase::onUrlRefused(const std::string& url)
{
    std::lock_guard<std::mutex> guard(fileLock);
    const int index = partOfUrl(url);
    // A URL already replaced says nothing of the current one.
    if (index < 0 || m_parts[static_cast<std::size_t>(index)].url != url)
        return;
    FV_LOG_WARNING(logPrefix() << "The storage refused the URL of part " << index + 1 << "; it is refreshed");
    m_parts[static_cast<std::size_t>(index)].refused = true;
}

bool CUploadFileBase::urlExpired(const PartState& part) const
{
    return part.url.empty() || (part.urlExpires != CChannelsDbInfo::kUnknownUrlExpiry &&
                                part.urlExpires <= nowSeconds() + kExpiryMarginSeconds);
}

int CUploadFileBase::partOfUrl(const std::string& url) const
{
    const auto found = m_partOfUrl.find(url);
    return found == m_partOfUrl.end() ? -1 : found->second;
}

int CUploadFileBase::partOfSender(const void* sender)
{
    const auto found = m_partOfChannel.find(sender);
    return found == m_partOfChannel.end() ? -1 : found->second;
}

void CUploadFileBase::onChannelState(const void* sender, ITransferChannel::StateEventData& data)
{
    Lock lock(fileLock);
    const int index = partOfSender(sender);
    if (index < 0 || released || m_discardEvents)
        return;
    PartState& part = m_parts[static_cast<std::size_t>(index)];
    ITransferChannel* channel = m_partChannels[static_cast<std::size_t>(index)].get();
    if (data.state == ITransferChannel::stateCompleted) {
        if (part.done)
            return;
        // Counted even after the file failed: a part the service has is not sent again.
        part.done = true;
        channels.setChannelState(channel, ITransferChannel::stateCompleted);
        FV_LOG_INFO(logPrefix() << "One of the channels has successfully completed upload!");
        if (m_finished || !std::all_of(m_parts.begin(), m_parts.end(), [](const PartState& p) { return p.done; }))
            return;
        m_finished = true;
        const std::string uploadId = m_uploadId;
        const auto count = static_cast<std::uint32_t>(m_parts.size());
        lock.unlock();
        if (!isMultipart()) {
            completeFile();
            return;
        }
        const std::shared_ptr<CTrasfersAsyncTasksExecutor> executor = m_executor.lock();
        const std::weak_ptr<CUploadFileBase> weak = weak_from_this();
        if (!executor || weak.expired())
            return;
        executor->queueTask(std::make_shared<CallTask>([weak, uploadId, count](const CStopToken&) {
            const std::shared_ptr<CUploadFileBase> file = weak.lock();
            if (!file)
                return static_cast<int>(dt_cancelled);
            const int result = file->completeUpload(file->callContext(), uploadId, count);
            if (result == dt_success)
                file->completeFile();
            else
                file->failFile(errorComplete, false);
            return result;
        }));
        return;
    }
    if (data.state == ITransferChannel::stateErrored && !m_finished) {
        FV_LOG_ERROR(logPrefix() << "One of the channels has signaled an error, putting a file into errored state!");
        channels.setChannelState(channel, ITransferChannel::stateErrored);
        lock.unlock();
        failFile(errorCodeOfOutcome(data.outcome), false);
    }
}

void CUploadFileBase::onChannelProgress(const void* sender, Poco::Int64& delta)
{
    Lock lock(fileLock);
    if (m_discardEvents) {
        FV_LOG_WARNING(logPrefix() << "Discarding progress event");
        return;
    }
    if (m_finished || released || partOfSender(sender) < 0)
        return;
    if (delta < 0)
        m_bytesSent -= std::min<std::uint64_t>(m_bytesSent, static_cast<std::uint64_t>(-delta));
    else
        m_bytesSent += static_cast<std::uint64_t>(delta);
    m_tracker.AddData(delta);
    const CTransferManagerBase::FileState snapshot = snapshotLocked(CTransferManagerBase::FILE_TRANSFERRING, 0);
    lock.unlock();
    notifyOwner(delta, snapshot, false);
}

void CUploadFileBase::onFileChanged(const void*, files_watch::FileSystemEvent&)
{
    Lock lock(fileLock);
    if (m_stage == Stage::done || m_finished || m_cancelled || released)
        return;
    FV_LOG_WARNING(logPrefix() << "Change detected in file");
    if (m_stage != Stage::ready) {
        m_changedOnDisk = true;
        return;
    }
    m_fromScratch = true;
    m_stage = Stage::needsPlan;
    lock.unlock();
    failFile(errorChanged, true);
}

void CUploadFileBase::completeFile()
{
    std::string uid;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        uid = m_desc.fileUid;
    }
    if (!m_environment.files->setCompleted(uid))
        FV_LOG_ERROR(logPrefix() << "Unable to store the completion of the file");
    FV_LOG_INFO(logPrefix() << "File upload completed");
    CTransferManagerBase::FileState snapshot;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        m_stage = Stage::done;
        m_finished = true;
        m_bytesSent = m_fileSize;
        m_tracker.stop();
        snapshot = snapshotLocked(CTransferManagerBase::FILE_COMPLETED, 0);
    }
    const std::unique_ptr<CFileWatcher> watcher = takeWatcher();
    notifyOwner(0, snapshot, false);
}

void CUploadFileBase::failFile(std::int32_t errorCode, bool reinitOnError)
{
    CTransferManagerBase::FileState snapshot;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        if (m_discardEvents || released)
            return;
        m_finished = true;
        m_tracker.stop();
        snapshot = snapshotLocked(CTransferManagerBase::FILE_ERRORED, errorCode);
    }
    notifyOwner(0, snapshot, reinitOnError);
}

void CUploadFileBase::onFileStatusException()
{
    UploadFileDesc desc;
    std::int32_t groupId = 0;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        const bool first = !m_fileStatusLogged;
        m_fileStatusLogged = true;
        m_discardEvents = true;
        m_finished = true;
        if (!first)
            return;
        desc = m_desc;
        groupId = m_groupId;
    }
    FV_LOG_WARNING(logPrefix() << "File status exception detected, file be removed from the queue and DB");
    if (m_engine)
        m_engine->scheduleFileDequeue(groupId, desc);
}

CUploadFileBase::CallContext CUploadFileBase::callContext()
{
    CallContext context;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        context.ids.fileId = m_desc.fileUid;
        context.localPath = m_localPath;
        context.fileSize = m_fileSize;
    }
    context.ids.bucketId = m_bucketId;
    context.ids.bucketToken = m_bucketToken;
    context.verify = m_verify;
    return context;
}

int CUploadFileBase::withOneRetry(const std::function<int()>& call, int noRetryCode)
{
    const int first = call();
    if (first == dt_success || first == noRetryCode)
        return first;
    return call();
}

int CUploadFileBase::probeFileStatus(const CallContext& context, bool& refused)
{
    UploadDetailsRequestParams params;
    static_cast<FileCallParams&>(params) = context.ids;
    params.fileSize = context.fileSize;
    FileUploadDetails details;
    CRestApiFileDetailsFetch call;
    call.setTimeouts(kUploadDetailsTimeouts);
    dt_error result = call.execute(params);
    if (result == dt_success)
        result = call.getResult(details);
    refused = details.fileStatusException;
    return result;
}

void CUploadFileBase::abortMultipart(const CallContext& context, const std::string& uploadId)
{
    if (uploadId.empty())
        return;
    MultiPartRequestParams params;
    static_cast<FileCallParams&>(params) = context.ids;
    params.uploadId = uploadId;
    const int result = withOneRetry([&] {
        CRestApiMultiPartUploadAbort call;
        dt_error error = call.execute(params);
        if (error == dt_success)
            error = call.getResult();
        return static_cast<int>(error);
    });
    FV_LOG_INFO("Aborted multipart upload " << uploadId << " of a file with uid " << context.ids.fileId
                                            << ". Result: " << result);
}

void CUploadFileBase::abandonInBackground(const std::string& uploadId)
{
    const std::shared_ptr<CTrasfersAsyncTasksExecutor> executor = m_executor.lock();
    const std::shared_ptr<CUploadFileBase> self = weak_from_this().lock();
    if (!executor || !self)
        return;
    const CallContext context = callContext();
    executor->queueTask(std::make_shared<CallTask>([self, context, uploadId](const CStopToken&) {
        self->abandonUpload(context, uploadId);
        return static_cast<int>(dt_success);
    }));
}

void CUploadFileBase::getChannels(std::vector<std::shared_ptr<ITransferChannel>>& list)
{
    std::lock_guard<std::mutex> guard(fileLock);
    if (m_stage != Stage::ready)
        return;
    for (std::size_t i = 0; i < m_partChannels.size() && i < m_parts.size(); ++i)
        if (m_partChannels[i] && !m_parts[i].done)
            list.push_back(m_partChannels[i]);
}

void CUploadFileBase::resetErroredFlag()
{
    std::lock_guard<std::mutex> guard(fileLock);
    if (m_cancelled || released || m_discardEvents || m_stage == Stage::done)
        return;
    m_refreshedOnRetry = false;
    std::fill(m_asks.begin(), m_asks.end(), 0u);
    if (m_stage != Stage::ready)
        return; // the next prepareUpload prepares it (from scratch when it changed)
    if (std::all_of(m_parts.begin(), m_parts.end(), [](const PartState& part) { return part.done; })) {
        // The parts went on while the file had failed: only the completion is left.
        m_stage = Stage::needsChannels;
        return;
    }
    m_finished = false;
    m_tracker.start(m_fileSize);
}

void CUploadFileBase::cancel()
{
    std::string uploadId;
    std::string uid;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        if (m_cancelled)
            return;
        m_cancelled = true;
        m_finished = true;
        m_discardEvents = true;
        markReleased();
        uploadId = m_uploadId;
        uid = m_desc.fileUid;
    }
    FV_LOG_INFO(logPrefix() << "Upload of a file with uid " << uid << " cancelled; abandoning it at the service");
    if (const std::shared_ptr<CTrasfersAsyncTasksExecutor> executor = m_executor.lock())
        executor->cancelTask(this);
    const std::unique_ptr<CFileWatcher> watcher = takeWatcher();
    if (isMultipart() ? !uploadId.empty() : true)
        abandonInBackground(uploadId);
}

void CUploadFileBase::releaseResources()
{
    {
        std::lock_guard<std::mutex> guard(fileLock);
        markReleased();
        m_finished = true;
    }
    {
        // Waits for the calls into the group in progress; no later one reaches it.
        std::unique_lock<std::shared_mutex> gate(m_ownerGate);
        m_owner = nullptr;
    }
    const std::unique_ptr<CFileWatcher> watcher = takeWatcher();
    if (const std::shared_ptr<CTrasfersAsyncTasksExecutor> executor = m_executor.lock())
        executor->cancelTask(this);
}

bool CUploadFileBase::removeFromDb()
{
    std::string uid;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        uid = m_desc.fileUid;
    }
    const bool channelsRemoved = m_environment.channels->removeByFileUid(uid);
    return m_environment.files->removeByFileUid(uid) && channelsRemoved;
}

void CUploadFileBase::getFileDesc(UploadFileDesc& desc)
{
    std::lock_guard<std::mutex> guard(fileLock);
    desc = m_desc;
}

std::uint64_t CUploadFileBase::getTotalSize()
{
    std::lock_guard<std::mutex> guard(fileLock);
    return m_fileSize;
}

void CUploadFileBase::getFileState(CTransferManagerBase::FileState& state)
{
    std::lock_guard<std::mutex> guard(fileLock);
    state = snapshotLocked(
        m_stage == Stage::done ? CTransferManagerBase::FILE_COMPLETED : CTransferManagerBase::FILE_TRANSFERRING, 0);
}

std::string CUploadFileBase::getUploadId()
{
    std::lock_guard<std::mutex> guard(fileLock);
    return m_uploadId;
}

void CUploadFileBase::getFileUid(std::string& uid)
{
    std::lock_guard<std::mutex> guard(fileLock);
    uid = m_desc.fileUid;
}

void CUploadFileBase::getBucketId(std::string& bucketId)
{
    bucketId = m_bucketId;
}

int CUploadFileBase::getGroupId()
{
    std::lock_guard<std::mutex> guard(fileLock);
    return m_groupId;
}

CTransferManagerBase::FileState CUploadFileBase::snapshotLocked(std::int32_t state, std::int32_t errorCode)
{
    CTransferManagerBase::FileState snapshot;
    snapshot.id = m_groupId;
    snapshot.fileId = m_desc.fileUid;
    snapshot.state = state;
    snapshot.errorCode = errorCode;
    snapshot.bytesTransferred = m_bytesSent;
    snapshot.bytesTotal = m_fileSize;
    snapshot.bytesTransferredPerSecond = m_tracker.GetLastTransferSpeed();
    snapshot.estimatedEta = m_tracker.GetEtaMs();
    snapshot.percentTransferred =
        m_fileSize == 0
            ? 100.0f
            : static_cast<float>(static_cast<double>(m_bytesSent) * 100.0 / static_cast<double>(m_fileSize));
    return snapshot;
}

void CUploadFileBase::notifyOwner(std::int64_t delta, CTransferManagerBase::FileState snapshot, bool reinitOnError)
{
    std::string uid;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        uid = m_desc.fileUid;
    }
    withOwner([&](IUploadFileOwner& owner) { owner.notifyFileState(uid, delta, snapshot, reinitOnError); });
}

} // namespace fv_transfers
