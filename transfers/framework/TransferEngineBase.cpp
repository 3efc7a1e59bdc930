#include "framework/TransferEngineBase.h"

#include "core/log/FvTransfersLogger.h"
#include "framework/TransferBufferManager.h"
#include "framework/TransferFile.h"

#include <Poco/Delegate.h>
#include <Poco/Exception.h>
#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <system_error>
#include <utility>

namespace fv_transfers {

namespace {

// One channel's share of the engine-wide budget: never 0 (which would mean unlimited) and never
// past what a channel's 32-bit limit holds.
unsigned shareOf(std::uint64_t budget, std::size_t channels)
{
    if (budget == 0 || channels == 0)
        return 0;
    const std::uint64_t share = budget / channels;
    return static_cast<unsigned>(std::clamp<std::uint64_t>(share, 1, std::numeric_limits<std::uint32_t>::max()));
}

bool contains(const CTransferEngineBase::ChannelList& list, const CTransferEngineBase::ChannelPtr& channel)
{
    return std::find(list.begin(), list.end(), channel) != list.end();
}

} // namespace

// Runs on the channel's thread: only posts the matching command.
struct CTransferEngineBase::ChannelListener {
    CTransferEngineBase& engine;
    std::weak_ptr<ITransferChannel> channel;

    void onStateChanged(const void*, ITransferChannel::StateEventData& data)
    {
        int code = 0;
        switch (data.state) {
        case ITransferChannel::stateErrored: code = engineChannelErrored; break;
        case ITransferChannel::stateCompleted: code = engineChannelCompleted; break;
        case ITransferChannel::statePaused: code = engineChannelPaused; break;
        default: return;
        }
        if (ChannelPtr owned = channel.lock())
            engine.postCommand(code, ChannelInfo{owned, static_cast<ITransferChannel::State>(data.state)});
    }
};

CTransferEngineBase::CTransferEngineBase(CGroupManagerBase& groupManager, EngineNames names, const Limits& limits,
                                         std::shared_ptr<ITransferBufferManager> buffers)
    : m_groupManager(groupManager), m_names(std::move(names)), m_buffers(std::move(buffers)),
      m_maxConcurrentTransfers(std::max<std::uint32_t>(1, limits.maxConcurrentTransfers)),
      m_maxTransferRetries(limits.maxTransferRetries), m_throttleBytesPerSecond(limits.throttleBytesPerSecond)
{
}

CTransferEngineBase::~CTransferEngineBase()
{
    if (isThreadRunning()) {
        FV_LOG_WARNING(m_names.kind << " destroyed with its thread running");
        uninit();
    }
    std::lock_guard<std::mutex> guard(m_engineLock);
    for (auto& entry : m_listeners)
        if (ChannelPtr channel = entry.second->channel.lock())
            channel->stateEvent -= Poco::delegate(entry.second.get(), &ChannelListener::onStateChanged);
    m_listeners.clear();
}

void CTransferEngineBase::init()
{
    std::lock_guard<std::mutex> guard(m_threadLock);
    if (m_thread.joinable())
        return;
    FV_LOG_INFO(m_names.initText);
    // A stop meant for a thread that was not running must not end this one at once.
    m_queue.removeAll(engineStop);
    m_thread = std::thread([this] {
        m_threadId = std::this_thread::get_id();
        run();
    });
    ::pthread_setname_np(m_thread.native_handle(), m_names.threadName.substr(0, 15).c_str());
}

void CTransferEngineBase::uninit()
{
    std::lock_guard<std::mutex> guard(m_threadLock);
    if (!m_thread.joinable())
        return;
    if (std::this_thread::get_id() == m_threadId.load()) {
        FV_LOG_ERROR(m_names.kind << ": uninit called on its own thread; ignored");
        return;
    }
    FV_LOG_INFO(m_names.uninitText);
    m_queue.push(engineStop);
    try {
        m_thread.join();
    } catch (const std::system_error& e) {
        FV_LOG_ERROR("Unable to join thread in " << m_names.kind << " uninit .Exception: " << e.what());
    }
}

bool CTransferEngineBase::hasActiveTransfers() const
{
    std::lock_guard<std::mutex> lock(m_engineLock);
    return !m_running.empty() || !m_pending.empty();
}

bool CTransferEngineBase::isThreadRunning() const
{
    std::lock_guard<std::mutex> guard(m_threadLock);
    return m_thread.joinable();
}

void CTransferEngineBase::run()
{
    FV_LOG_INFO("Starting worker thread of " << m_names.kind << "!");
    for (;;) {
        int code = 0;
        Poco::Any payload;
        m_queue.waitAndPop(code, payload);
        bool end = false;
        try {
            end = handleCommand(code, payload);
        } catch (const Poco::Exception& e) {
            FV_LOG_ERROR("Uncaught exception in " << m_names.kind << ": " << e.displayText());
        } catch (const std::exception& e) {
            FV_LOG_ERROR("Uncaught exception in " << m_names.kind << ": " << e.what());
        } catch (...) {
            FV_LOG_ERROR("Uncaught exception in " << m_names.kind << ": Unknown exception");
        }
        raiseActivityEvents();
        if (end)
            break;
    }
    FV_LOG_INFO("Exiting from worker thread of " << m_names.kind << "!");
}

void CTransferEngineBase::raiseActivityEvents()
{
    std::vector<bool> events;
    events.swap(m_activityToReport);
    for (const bool active : events) {
        try {
            activeTransfersEvent.notify(this, active);
        } catch (...) {
            FV_LOG_ERROR(m_names.kind << ": exception from an activity subscriber");
        }
    }
}

void CTransferEngineBase::setActiveLocked(bool active)
{
    m_active = active;
    onActivityChangedLocked(active);
    m_activityToReport.push_back(active);
}

void CTransferEngineBase::onActivityChangedLocked(bool active)
{
    // Buffers still out when the engine goes idle free the pool as they come back.
    if (!m_buffers)
        return;
    if (active)
        m_buffers->init(0);
    else
        m_buffers->uninit();
}

void CTransferEngineBase::setMaxConcurrentTransfers(std::uint32_t value)
{
    m_maxConcurrentTransfers = std::max<std::uint32_t>(1, value);
    wake(); // a raised limit starts more at once
}

void CTransferEngineBase::setMaxTransferRetries(std::uint32_t value)
{
    m_maxTransferRetries = value;
}

void CTransferEngineBase::setThrottleBytesPerSecond(std::uint64_t value)
{
    m_throttleBytesPerSecond = value;
    std::lock_guard<std::mutex> guard(m_engineLock);
    distributeThrottleLocked();
}

void CTransferEngineBase::setTimeouts(const ChannelTimeouts& timeouts)
{
    std::lock_guard<std::mutex> guard(m_engineLock);
    m_timeouts = timeouts;
    for (const ChannelPtr& channel : m_running)
        channel->setTimeouts(timeouts);
}

void CTransferEngineBase::postCommand(int code, const Poco::Any& payload)
{
    m_queue.push(code, payload);
}

void CTransferEngineBase::resumeGroup(std::int32_t groupId, bool flag)
{
    postCommand(engineResumeGroup, GroupResumeInfo{groupId, flag});
}

bool CTransferEngineBase::hasChannelsOfFile(const ITransferFile* file) const
{
    std::lock_guard<std::mutex> guard(m_engineLock);
    for (const ChannelList* list : {&m_running, &m_pending, &m_parked})
        for (const ChannelPtr& channel : *list)
            if (channel->getOwnerFile() == file)
                return true;
    return false;
}

bool CTransferEngineBase::handleCommand(int code, const Poco::Any& payload)
{
    switch (code) {
    case engineWake: startPendingChannels(); break;
    case engineCancelFiles:
    case enginePauseFiles:
    case engineResumeFiles:
        if (const FileList* files = Poco::AnyCast<FileList>(&payload)) {
            if (code == engineCancelFiles)
                onCancelFiles(*files);
            else if (code == enginePauseFiles)
                onPauseFiles(*files);
            else
                onResumeFiles(*files);
        }
        break;
    case engineChannelPaused:
    case engineChannelCompleted:
    case engineChannelErrored:
        if (const ChannelInfo* info = Poco::AnyCast<ChannelInfo>(&payload)) {
            if (!info->channel)
                break;
            if (code == engineChannelPaused)
                onChannelPaused(info->channel);
            else if (code == engineChannelCompleted)
                onChannelCompleted(info->channel);
            else
                onChannelErrored(info->channel);
        }
        break;
    case engineStop: onStop(); return true;
    case engineResumeGroup:
        if (const GroupResumeInfo* info = Poco::AnyCast<GroupResumeInfo>(&payload))
            onResumeGroup(*info);
        break;
    default: break; // 2 is never posted, 10 has no handler, the rest belong to the derived engine
    }
    return false;
}

void CTransferEngineBase::startPendingChannels()
{
    std::lock_guard<std::mutex> guard(m_engineLock);
    startPendingChannelsLocked();
}

void CTransferEngineBase::onCancelFiles(const FileList& files)
{
    for (const FilePtr& file : files) {
        if (!file)
            continue;
        ChannelList channels;
        {
            std::lock_guard<std::mutex> guard(m_engineLock);
            for (const ChannelList* list : {&m_running, &m_pending, &m_parked})
                channels.splice(channels.end(), channelsOfLocked(*list, file.get()));
        }
        // Joins the threads, which may be posting their last events: never under the lock.
        for (const ChannelPtr& channel : channels)
            channel->stop();
        std::lock_guard<std::mutex> guard(m_engineLock);
        for (const ChannelPtr& channel : channels)
            removeChannelLocked(channel);
    }
    startPendingChannels();
}

void CTransferEngineBase::onPauseFiles(const FileList& files)
{
    std::lock_guard<std::mutex> guard(m_engineLock);
    for (const FilePtr& file : files) {
        // Running channels move to parked when they report the pause.
        for (const ChannelPtr& channel : channelsOfLocked(m_running, file.get()))
            channel->pause();
        for (const ChannelPtr& channel : channelsOfLocked(m_pending, file.get())) {
            m_pending.remove(channel);
            m_parked.push_back(channel);
        }
    }
    startPendingChannelsLocked();
}

void CTransferEngineBase::onResumeFiles(const FileList& files)
{
    std::lock_guard<std::mutex> guard(m_engineLock);
    for (const FilePtr& file : files) {
        for (const ChannelPtr& channel : channelsOfLocked(m_parked, file.get())) {
            m_parked.remove(channel);
            m_pending.push_back(channel);
        }
        for (const ChannelPtr& channel : channelsOfLocked(m_running, file.get()))
            channel->resume();
    }
    startPendingChannelsLocked();
}

void CTransferEngineBase::onChannelPaused(const ChannelPtr& channel)
{
    std::lock_guard<std::mutex> guard(m_engineLock);
    if (contains(m_running, channel) && channel->isPaused()) {
        m_running.remove(channel);
        m_parked.push_back(channel);
    }
    startPendingChannelsLocked();
}

void CTransferEngineBase::onChannelCompleted(const ChannelPtr& channel)
{
    std::lock_guard<std::mutex> guard(m_engineLock);
    // Also when a failing sibling parked it first: a completed range is never started again.
    if (membershipLocked(channel) != Membership::none)
        removeChannelLocked(channel);
    startPendingChannelsLocked();
}

void CTransferEngineBase::onChannelErrored(const ChannelPtr& channel)
{
    ChannelList stopping;
    ITransferFile* file = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_engineLock);
        if (!contains(m_running, channel))
            return;
        file = channel->getOwnerFile();
        stopping = file ? channelsOfLocked(m_running, file) : ChannelList{channel};
    }
    // They stay in `running` while their runs end, so hasChannelsOfFile keeps answering true.
    stopAndWait(stopping);
    std::lock_guard<std::mutex> guard(m_engineLock);
    for (const ChannelPtr& stopped : stopping) {
        m_running.remove(stopped);
        m_parked.push_back(stopped); // no thread: started again when the file is resumed
    }
    if (file)
        for (const ChannelPtr& waiting : channelsOfLocked(m_pending, file)) {
            m_pending.remove(waiting);
            m_parked.push_back(waiting);
        }
    startPendingChannelsLocked();
}

void CTransferEngineBase::onStop()
{
    ChannelList running;
    {
        std::lock_guard<std::mutex> guard(m_engineLock);
        running = m_running;
    }
    const std::vector<ChannelPtr> stopped = stopAndWait(running);
    std::lock_guard<std::mutex> guard(m_engineLock);
    // A run that ended on its own has its completed or errored command queued: it stays in
    // `running` for that command, handled after the next init.
    for (const ChannelPtr& channel : stopped) {
        m_running.remove(channel);
        m_pending.push_back(channel);
    }
    // The groups are the manager's: a stopped engine must not keep them, and through them their
    // executor, alive. A later init finds them again through the manager.
    m_activeGroups.clear();
    if (m_active)
        setActiveLocked(false);
}

void CTransferEngineBase::onResumeGroup(const GroupResumeInfo& info)
{
    if (GroupPtr group = m_groupManager.findGroupById(info.groupId))
        group->resumeGroupAsync(info.flag);
}

std::vector<CTransferEngineBase::ChannelPtr> CTransferEngineBase::stopAndWait(const ChannelList& channels)
{
    struct Completions {
        std::mutex lock;
        std::condition_variable done;
        std::size_t left = 0;
        std::vector<int> values;
    };
    auto completions = std::make_shared<Completions>();
    completions->left = channels.size();
    completions->values.assign(channels.size(), 0);
    std::size_t index = 0;
    for (const ChannelPtr& channel : channels) {
        channel->stopAsync([completions, index](int value) {
            std::lock_guard<std::mutex> guard(completions->lock);
            completions->values[index] = value;
            --completions->left;
            completions->done.notify_all();
        });
        ++index;
    }
    {
        // A run ends within its connection's idle time-outs; the log tells of a slow one.
        std::unique_lock<std::mutex> guard(completions->lock);
        while (!completions->done.wait_for(guard, std::chrono::seconds(10), [&] { return completions->left == 0; }))
            FV_LOG_WARNING(m_names.logTag << ": waiting for " << completions->left << " channels to stop");
    }
    std::vector<ChannelPtr> stopped;
    index = 0;
    for (const ChannelPtr& channel : channels)
        if (completions->values[index++] != 0)
            stopped.push_back(channel);
    return stopped;
}

void CTransferEngineBase::startPendingChannelsLocked()
{
    while (m_running.size() < m_maxConcurrentTransfers.load()) {
        ChannelPtr channel = takeNextChannelLocked();
        if (!channel)
            break;
        if (!m_active)
            setActiveLocked(true); // before the first channel runs: its resources come first
        try {
            startChannelLocked(channel);
        } catch (...) {
            m_parked.push_back(channel);
            throw;
        }
        m_running.push_back(channel);
    }
    if (m_running.empty() && m_active)
        setActiveLocked(false);
    distributeThrottleLocked();
}

CTransferEngineBase::ChannelPtr CTransferEngineBase::takeNextChannelLocked()
{
    if (!m_pending.empty()) {
        ChannelPtr channel = m_pending.front();
        m_pending.pop_front();
        return channel;
    }
    if (!m_activeGroups.empty())
        if (ChannelPtr channel = pullChannelsFromGroupsLocked())
            return channel;
    for (;;) {
        GroupPtr group = m_groupManager.findGroupNotIn(m_activeGroups);
        if (!group)
            return nullptr;
        m_activeGroups.push_back(group);
        if (ChannelPtr channel = pullChannelsFromGroupsLocked())
            return channel;
    }
}

CTransferEngineBase::ChannelPtr CTransferEngineBase::pullChannelsFromGroupsLocked()
{
    for (auto it = m_activeGroups.begin(); it != m_activeGroups.end();) {
        const GroupPtr group = *it;
        // A group the manager no longer lists has nothing more to give.
        if (!group || m_groupManager.findGroupById(group->getGroupId()) != group) {
            it = m_activeGroups.erase(it);
            continue;
        }
        while (FilePtr file = getGroupFile(group)) {
            enqueueFileChannelsLocked(*file);
            if (!m_pending.empty()) {
                ChannelPtr channel = m_pending.front();
                m_pending.pop_front();
                return channel;
            }
        }
        ++it;
    }
    return nullptr;
}

void CTransferEngineBase::enqueueChannelsLocked(const std::vector<ChannelPtr>& channels)
{
    for (const ChannelPtr& channel : channels) {
        switch (membershipLocked(channel)) {
        case Membership::parked:
            m_parked.remove(channel);
            m_pending.push_back(channel);
            break;
        case Membership::none:
            if (channel)
                m_pending.push_back(channel);
            break;
        default: break;
        }
    }
}

void CTransferEngineBase::enqueueFileChannelsLocked(ITransferFile& file)
{
    std::vector<ChannelPtr> channels;
    file.getActiveChannels(channels);
    FV_LOG_INFO("Transfer Engine: got new file for transfer. It has " << channels.size() << " channels.");
    enqueueChannelsLocked(channels);
}

void CTransferEngineBase::parkFileChannels(ITransferFile& file)
{
    std::vector<ChannelPtr> channels;
    file.getActiveChannels(channels);
    std::lock_guard<std::mutex> guard(m_engineLock);
    for (const ChannelPtr& channel : channels)
        if (channel && membershipLocked(channel) == Membership::none)
            m_parked.push_back(channel);
}

void CTransferEngineBase::startChannelLocked(const ChannelPtr& channel)
{
    subscribeLocked(channel);
    if (channel->isRunning()) {
        channel->resume(); // parked while its thread waited paused
        return;
    }
    channel->setMaxRetries(
        static_cast<int>(std::min<std::uint32_t>(m_maxTransferRetries.load(), std::numeric_limits<int>::max())));
    channel->setTimeouts(m_timeouts);
    channel->setSpeedLimit(shareOf(m_throttleBytesPerSecond.load(), m_running.size() + 1));
    channel->resume(); // a channel parked while paused runs when started again
    channel->start();
}

void CTransferEngineBase::subscribeLocked(const ChannelPtr& channel)
{
    auto& listener = m_listeners[channel.get()];
    if (listener)
        return;
    listener.reset(new ChannelListener{*this, channel});
    channel->stateEvent += Poco::delegate(listener.get(), &ChannelListener::onStateChanged);
}

void CTransferEngineBase::unsubscribeLocked(const ChannelPtr& channel)
{
    auto it = m_listeners.find(channel.get());
    if (it == m_listeners.end())
        return;
    // Waits for a delivery in flight, which only posts a command.
    channel->stateEvent -= Poco::delegate(it->second.get(), &ChannelListener::onStateChanged);
    m_listeners.erase(it);
}

void CTransferEngineBase::distributeThrottleLocked()
{
    const unsigned share = shareOf(m_throttleBytesPerSecond.load(), m_running.size());
    for (const ChannelPtr& channel : m_running)
        channel->setSpeedLimit(share);
}

void CTransferEngineBase::removeChannelLocked(const ChannelPtr& channel)
{
    ITransferFile* file = channel->getOwnerFile();
    m_running.remove(channel);
    m_pending.remove(channel);
    m_parked.remove(channel);
    unsubscribeLocked(channel);
    if (!file) {
        FV_LOG_WARNING(m_names.logTag << ": Channel being removed has its parent set to NULL!");
        return;
    }
    if (!hasRunningOrPendingLocked(file))
        onFileChannelsGoneLocked(*file);
}

void CTransferEngineBase::onFileChannelsGoneLocked(ITransferFile& file)
{
    const int groupId = file.getGroupId();
    auto it = std::find_if(m_activeGroups.begin(), m_activeGroups.end(),
                           [groupId](const GroupPtr& group) { return group && group->getGroupId() == groupId; });
    if (it == m_activeGroups.end())
        return;
    if (FilePtr next = getGroupFile(*it))
        enqueueFileChannelsLocked(*next);
    else
        m_activeGroups.erase(it);
}

CTransferEngineBase::Membership CTransferEngineBase::membershipLocked(const ChannelPtr& channel) const
{
    if (contains(m_running, channel))
        return Membership::running;
    if (contains(m_pending, channel))
        return Membership::pending;
    if (contains(m_parked, channel))
        return Membership::parked;
    return Membership::none;
}

CTransferEngineBase::ChannelList CTransferEngineBase::channelsOfLocked(const ChannelList& list,
                                                                       const ITransferFile* file) const
{
    ChannelList result;
    for (const ChannelPtr& channel : list)
        if (channel->getOwnerFile() == file)
            result.push_back(channel);
    return result;
}

bool CTransferEngineBase::hasRunningOrPendingLocked(const ITransferFile* file) const
{
    return !channelsOfLocked(m_running, file).empty() || !channelsOfLocked(m_pending, file).empty();
}

} // namespace fv_transfers
