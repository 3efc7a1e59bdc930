#pragma once

#include "framework/EngineCommandQueue.h"
#include "framework/GroupManagerBase.h"
#include "framework/TransferChannel.h"
#include "framework/TransferEngineCallback.h"

#include <Poco/Any.h>
#include <Poco/BasicEvent.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fv_transfers {

class ITransferBufferManager;
class ITransferFile;

// The scheduling core of the upload and download engines. Every change to the channel lists
// happens on the engine thread, which takes one command after another from the queue; other
// threads only post commands, or read the lists under the engine lock (hasChannelsOfFile).
//
// Lists: `running` (started by the engine, at most maxConcurrentTransfers), `pending` (ready to
// start, in order), `parked` (known but not to be started: added, paused, or stopped after a
// failure; a stopped one has no thread and starts again when resumed). A channel is in at most
// one list. `activeGroups` are the groups whose files are being fed into `pending`.
//
// A derived engine names its thread, answers getGroupFile, handles its own commands in
// handleCommand, and must call uninit() in its destructor: the thread calls its hooks.
class CTransferEngineBase : public virtual ITransferEngineCallback {
public:
    using ChannelPtr = std::shared_ptr<ITransferChannel>;
    using ChannelList = std::list<ChannelPtr>;
    using FilePtr = std::shared_ptr<ITransferFile>;
    // Payload of the cancel, pause and resume commands.
    using FileList = std::vector<FilePtr>;
    using GroupPtr = CGroupManagerBase::GroupPtr;

    // What the engine is called in its thread name and log lines.
    struct EngineNames {
        std::string threadName; // at most 15 bytes: "fv-dl-engine"
        std::string kind;       // "download engine": "Starting worker thread of download engine!"
        std::string logTag;     // "Download engine": "Download engine: Channel being removed ..."
        std::string initText;   // logged by init
        std::string uninitText; // logged by uninit
    };

    struct Limits {
        std::uint32_t maxConcurrentTransfers = 2;
        std::uint32_t maxTransferRetries = 3;
        std::uint64_t throttleBytesPerSecond = 0; // engine-wide; 0 = unlimited
    };

    // Raised on the engine thread, with no engine lock held: true when a channel starts in an
    // engine that ran none, false when the last running one has left. Once per transition.
    Poco::BasicEvent<const bool> activeTransfersEvent;

    // `buffers`: the one pool of the engine's channels, initialised while channels run and
    // released when the engine goes idle; null: none.
    CTransferEngineBase(CGroupManagerBase& groupManager, EngineNames names, const Limits& limits,
                        std::shared_ptr<ITransferBufferManager> buffers = nullptr);
    ~CTransferEngineBase() override;
    CTransferEngineBase(const CTransferEngineBase&) = delete;
    CTransferEngineBase& operator=(const CTransferEngineBase&) = delete;

    // Starts the engine thread unless it runs. A stop left in the queue by an earlier uninit is
    // dropped; every other waiting command is handled.
    void init();
    // Stops a running engine thread (its running channels go back to pending) and joins it.
    // Does nothing when the thread does not run. Never call it on the engine thread.
    void uninit();
    bool isThreadRunning() const;
    // Channels run or wait to start.
    bool hasActiveTransfers() const;

    void setMaxConcurrentTransfers(std::uint32_t value); // clamped to at least 1
    void setMaxTransferRetries(std::uint32_t value);
    // Divided over the running channels at once; 0 lifts every channel's limit.
    void setThrottleBytesPerSecond(std::uint64_t value);
    void setTimeouts(const ChannelTimeouts& timeouts);
    std::uint32_t getMaxConcurrentTransfers() const { return m_maxConcurrentTransfers.load(); }
    std::uint64_t getThrottleBytesPerSecond() const { return m_throttleBytesPerSecond.load(); }

    void postCommand(int code, const Poco::Any& payload = Poco::Any());
    // Posts a cancel, pause or resume command for files of any ITransferFile-derived type.
    template <typename Files> void postFiles(int code, const Files& files)
    {
        postCommand(code, FileList(files.begin(), files.end()));
    }

    // ITransferEngineCallback
    void resumeGroup(std::int32_t groupId, bool flag) override;
    bool hasChannelsOfFile(const ITransferFile* file) const override;

protected:
    // The next file of `group` waiting for transfer, or null. Engine thread, engine lock held.
    virtual FilePtr getGroupFile(const GroupPtr& group) = 0;
    // One command on the engine thread; true ends the loop. A derived engine handles its own
    // codes (9, 12, 13, 15) and passes the rest here; an unknown code or a payload of another
    // type is ignored.
    virtual bool handleCommand(int code, const Poco::Any& payload);
    // The last running or pending channel of `file` has left the engine (completed, cancelled):
    // by default the file's group in activeGroups hands over its next file, or leaves the list
    // when it has none. Engine thread, engine lock held.
    virtual void onFileChannelsGoneLocked(ITransferFile& file);
    // The engine leaves (true) or reaches (false) the idle state: true before the first channel
    // starts, false after the last running one has left. Engine thread, engine lock held: the
    // place for resources that live while channels run (by default the buffer pool). Must not
    // wait for channels.
    virtual void onActivityChangedLocked(bool active);

    // Helpers for derived commands; each takes the engine lock.
    // Channels of `file` that are in no list are parked (never twice).
    void parkFileChannels(ITransferFile& file);
    void wake() { postCommand(engineWake); }

    const EngineNames& names() const { return m_names; }
    const std::shared_ptr<ITransferBufferManager>& bufferPool() const { return m_buffers; }
    CGroupManagerBase& groupManager() const { return m_groupManager; }

    // Under the engine lock, engine thread only.
    // Erases the channel from every list; when it leaves its file with no running or pending
    // channel, onFileChannelsGoneLocked follows.
    void removeChannelLocked(const ChannelPtr& channel);
    // Appends to pending the channels not running or pending yet; parked ones move over.
    void enqueueChannelsLocked(const std::vector<ChannelPtr>& channels);
    // The file's active channels, enqueued as above.
    void enqueueFileChannelsLocked(ITransferFile& file);
    void startPendingChannelsLocked();

private:
    enum class Membership { none, running, pending, parked };

    void run();
    void raiseActivityEvents();
    void setActiveLocked(bool active);

    void onCancelFiles(const FileList& files);
    void onPauseFiles(const FileList& files);
    void onResumeFiles(const FileList& files);
    void onChannelPaused(const ChannelPtr& channel);
    void onChannelCompleted(const ChannelPtr& channel);
    void onChannelErrored(const ChannelPtr& channel);
    void onStop();
    void onResumeGroup(const GroupResumeInfo& info);
    void startPendingChannels();

    ChannelPtr takeNextChannelLocked();
    ChannelPtr pullChannelsFromGroupsLocked();
    void startChannelLocked(const ChannelPtr& channel);
    void subscribeLocked(const ChannelPtr& channel);
    void unsubscribeLocked(const ChannelPtr& channel);
    void distributeThrottleLocked();
    Membership membershipLocked(const ChannelPtr& channel) const;
    ChannelList channelsOfLocked(const ChannelList& list, const ITransferFile* file) const;
    bool hasRunningOrPendingLocked(const ITransferFile* file) const;
    // Stops each channel's run as a cancel (state 6) and waits until every run has ended; the
    // channels whose run ended as that stop. No engine lock may be held.
    std::vector<ChannelPtr> stopAndWait(const ChannelList& channels);

    CGroupManagerBase& m_groupManager;
    const EngineNames m_names;
    const std::shared_ptr<ITransferBufferManager> m_buffers;
    CEngineCommandQueue m_queue;

    std::atomic<std::uint32_t> m_maxConcurrentTransfers;
    std::atomic<std::uint32_t> m_maxTransferRetries;
    std::atomic<std::uint64_t> m_throttleBytesPerSecond;

    mutable std::mutex m_engineLock; // the lists, the listeners, the time-outs, the activity flag
    ChannelList m_running;
    ChannelList m_pending;
    ChannelList m_parked;
    CGroupManagerBase::GroupList m_activeGroups;
    ChannelTimeouts m_timeouts{30000, 60000, 60000};
    bool m_active = false;
    std::vector<bool> m_activityToReport; // engine thread only; raised once the lock is released

    // One listener per channel the engine has started, attached to its state event once and
    // detached when the channel leaves the engine. It posts the channel itself, so a command
    // never meets a reused address.
    struct ChannelListener;
    std::map<const ITransferChannel*, std::unique_ptr<ChannelListener>> m_listeners;

    mutable std::mutex m_threadLock; // init and uninit
    std::thread m_thread;
    std::atomic<std::thread::id> m_threadId{};
};

} // namespace fv_transfers
