#pragma once

#include "core/base/StringConversion.h"
#include "core/config/FvTransfersGlobalConfig.h"
#include "db/DbDataLoader.h"
#include "db/DbHolder.h"
#include "download/DownloadEngineCallback.h"
#include "download/DownloadFile.h"
#include "download/DownloadGroup.h"
#include "download/DownloadGroupManager.h"
#include "framework/FailedGroupsRestarter.h"
#include "framework/TransferBufferManagerFactory.h"
#include "framework/TrasfersAsyncTasksExecutor.h"
#include "support/fixtures/EventRecorder.h"
#include "support/fixtures/RecordingCallback.h"
#include "support/fixtures/TestBytes.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/TransportTest.h"
#include "support/service/RestRoutes.h"
#include "support/service/TestService.h"

#include <Poco/Data/Session.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fv_test {

using fv_transfers::CDownloadFile;
using fv_transfers::CDownloadGroup;
using fv_transfers::CDownloadGroupManager;
using fv_transfers::CDownloadManager;
using fv_transfers::CTransferManagerBase;
using fv_transfers::FileDownloadDetails;

using DownloadEvents = RecordingCallback<CDownloadManager>;

// A minimal engine: one thread runs the posted commands in order. Files the group hands out get
// their channels started; a cancel stops them and gives the file back to its group.
class ThreadedTestEngine : public fv_transfers::IDownloadEngineCallback {
public:
    explicit ThreadedTestEngine(std::shared_ptr<fv_transfers::ITransferBufferManager> buffers)
        : m_buffers(std::move(buffers)), m_thread([this] { run(); })
    {
    }
    ~ThreadedTestEngine() override { stop(); }

    // Stops every channel it started and joins its thread.
    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_stop)
                return;
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
        // Commands never run hold groups, and through their files the executor.
        std::deque<std::function<void()>> dropped;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            dropped.swap(m_commands);
        }
        dropped.clear();
        for (const auto& entry : m_started)
            stopChannels(*entry.first);
        m_started.clear();
    }
    void setManager(CDownloadGroupManager* manager) { m_manager = manager; }

    void resumeGroup(std::int32_t groupId, bool flag) override
    {
        post([this, groupId, flag] {
            if (auto group = m_manager ? m_manager->findDownloadGroup(groupId) : nullptr) {
                group->resumeGroupAsync(flag);
                startNext(group);
            }
        });
    }
    bool hasChannelsOfFile(const fv_transfers::ITransferFile*) const override { return false; }
    void cancelFiles(const FileList& files) override
    {
        post([this, files] {
            for (const auto& file : files) {
                stopChannels(*file);
                const auto owner = m_started.find(file);
                if (owner != m_started.end()) {
                    if (auto group = owner->second.lock())
                        group->removeFile(file);
                    m_started.erase(owner);
                }
                ++cancelledFiles;
            }
        });
    }
    void pauseFiles(const FileList& files) override
    {
        post([this, files] {
            for (const auto& file : files)
                stopChannels(*file);
        });
    }
    void resumeFiles(const FileList& files) override
    {
        post([this, files] {
            for (const auto& file : files)
                startChannels(*file);
        });
    }
    void addFileChannels(const std::shared_ptr<CDownloadFile>&) override {}
    void initFiles(const std::shared_ptr<CDownloadGroup>& group, const std::vector<FileDownloadDetails>& files) override
    {
        post([this, group, files] {
            m_groups.push_back(group);
            group->addFiles(files);
            startNext(group);
        });
    }
    void wakeUp() override
    {
        post([this] {
            for (const auto& weak : m_groups) {
                if (auto group = weak.lock())
                    startNext(group);
            }
        });
    }
    std::shared_ptr<fv_transfers::ITransferBufferManager> getBufferManager() override { return m_buffers; }

    // Restored groups are not handed over by initFiles.
    void adopt(const std::shared_ptr<CDownloadGroup>& group)
    {
        post([this, group] {
            m_groups.push_back(group);
            startNext(group);
        });
    }

    std::atomic<int> cancelledFiles{0};

private:
    void post(std::function<void()> command)
    {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_stop)
                return; // `command` ends after the lock
            m_commands.push_back(std::move(command));
        }
        m_wake.notify_all();
    }
    void run()
    {
        std::unique_lock<std::mutex> lock(m_lock);
        for (;;) {
            m_wake.wait(lock, [&] { return m_stop || !m_commands.empty(); });
            if (m_stop)
                return;
            std::function<void()> command = std::move(m_commands.front());
            m_commands.pop_front();
            lock.unlock();
            command();
            lock.lock();
        }
    }
    void startNext(const std::shared_ptr<CDownloadGroup>& group)
    {
        while (auto file = group->getNextFile()) {
            m_started[file] = group;
            startChannels(*file);
        }
    }
    static void startChannels(CDownloadFile& file)
    {
        std::vector<std::shared_ptr<fv_transfers::ITransferChannel>> channels;
        file.getChannels(channels);
        for (const auto& channel : channels) {
            channel->setMaxRetries(2);
            channel->start();
        }
    }
    static void stopChannels(CDownloadFile& file)
    {
        std::vector<std::shared_ptr<fv_transfers::ITransferChannel>> channels;
        file.getChannels(channels);
        for (const auto& channel : channels)
            channel->stop();
    }

    const std::shared_ptr<fv_transfers::ITransferBufferManager> m_buffers;
    CDownloadGroupManager* m_manager = nullptr;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::deque<std::function<void()>> m_commands;
    // Engine thread only.
    std::vector<std::weak_ptr<CDownloadGroup>> m_groups;
    std::map<std::shared_ptr<CDownloadFile>, std::weak_ptr<CDownloadGroup>> m_started;
    std::thread m_thread;
};

// A temp app folder with its database, the test service with one bucket, a destination folder
// and the subscriber; the parts (executor, group manager, engine) are the derived fixture's.
class DownloadTestBase : public ::testing::Test {
protected:
    static constexpr const char* kBucket = "B1";
    static constexpr const char* kToken = "T1";
    static constexpr std::uint64_t kModified = 1600000000000ull;

    DownloadTestBase() : m_rest(m_service)
    {
        prepareTransportTest();
        fv_transfers::CFvTransfersGlobalConfig::getInstance()->setAppFilesPath(fv_transfers::utf8ToWide(m_app.path()));
        fv_transfers::CFvTransfersGlobalConfig::getInstance()->setRestEndPointUrl(m_service.baseUrl());
        fv_transfers::CDbHolder::createInstance();
        fv_transfers::CFailedGroupsRestarter::getInstance()->setInterval(std::chrono::milliseconds(200));
        m_rest.addBucket(kBucket, kToken);
        m_folder = m_dest.path();
    }
    ~DownloadTestBase() override
    {
        fv_transfers::CFailedGroupsRestarter::destroyInstance();
        fv_transfers::CDbDataLoader::getInstance().releaseDownloadData();
        fv_transfers::CDbHolder::releaseInstance();
    }

    // Retries without the production back-off.
    static fv_transfers::DownloadFileEnvironment quickRetries()
    {
        fv_transfers::DownloadFileEnvironment environment;
        environment.channelSeams.firstBackOff = std::chrono::milliseconds(1);
        environment.channelSeams.maxBackOff = std::chrono::milliseconds(2);
        return environment;
    }
    // Waits until no preparation still holds the executor, so that it ends on this thread.
    static void releaseExecutor(std::shared_ptr<fv_transfers::CTrasfersAsyncTasksExecutor>& executor)
    {
        if (executor) {
            EXPECT_TRUE(waitUntil([&] { return executor.use_count() == 1; }, 20000));
        }
        executor.reset();
    }

    std::string folderUrl(const std::string& folder) const { return "file://" + folder; }
    std::int32_t createGroup(CDownloadGroupManager& manager, const std::string& destination,
                             std::shared_ptr<CDownloadManager::GroupInfoMap> groupInfo = nullptr,
                             std::uint64_t minMultipartSize = 0)
    {
        CDownloadGroup::TransferGroupInitParams params;
        params.bucketId = kBucket;
        params.bucketToken = kToken;
        params.bucketType = "DOWNLOAD";
        params.downloadPath = fv_transfers::utf8ToWide(destination);
        params.groupInfo = std::move(groupInfo);
        params.minMultipartSize = minMultipartSize;
        return manager.addGroup(params);
    }

    std::string seed(const std::string& id, std::uint64_t size, unsigned pattern = 3)
    {
        const std::string content = patternedBytes(size, pattern);
        m_service.model().objects().put(RestRoutes::fileKey(kBucket, id), content);
        m_rest.addFile(kBucket, id, size);
        return content;
    }
    static FileDownloadDetails details(const std::string& id, const std::string& path, std::uint64_t size)
    {
        FileDownloadDetails result;
        result.id = id;
        result.path = fv_transfers::utf8ToWide(path);
        result.size = size;
        result.modified = kModified;
        return result;
    }
    std::string detailsPath(const std::string& id) const
    {
        return "/api/v2/bucket/" + std::string(kBucket) + "/file/" + id + "/download";
    }

    fv_transfers::CDbHolder& db() { return *fv_transfers::CDbHolder::getInstance(); }
    std::int64_t rows(const std::string& table)
    {
        std::vector<Poco::Int64> counts;
        db().getConnection()->run("select from", "test", [&](Poco::Data::Session& session) {
            session << "SELECT COUNT(*) FROM " + table, Poco::Data::Keywords::into(counts), Poco::Data::Keywords::now;
        });
        return counts.empty() ? -1 : counts.front();
    }
    std::int64_t allRows()
    {
        return rows("DownloadGroupsDictionary") + rows("DownloadFilesDictionary") + rows("DownloadChannelsDictionary");
    }
    std::vector<std::string> folderEntries(const std::string& folder) const
    {
        // The engine removes files while this lists them: purely lexical paths and an
        // iteration that tolerates a vanished entry.
        std::vector<std::string> names;
        std::error_code error;
        std::filesystem::recursive_directory_iterator it(folder, error);
        for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
            names.push_back(it->path().lexically_relative(folder).string());
        std::sort(names.begin(), names.end());
        return names;
    }
    bool anyTempIn(const std::string& folder) const
    {
        const auto entries = folderEntries(folder);
        return std::any_of(entries.begin(), entries.end(), [](const std::string& name) {
            return name.size() > 3 && name.compare(name.size() - 3, 3, ".dl") == 0;
        });
    }

    TempDir m_app;
    TempDir m_dest;
    TestService m_service;
    RestRoutes m_rest;
    std::string m_folder;
    DownloadEvents m_events;
};

// The base with an executor, a group manager and the test engine, assembled as the manager
// proxy will.
class DownloadGroupFixture : public DownloadTestBase {
protected:
    DownloadGroupFixture()
    {
        m_buffers = fv_transfers::createTransferBufferManager(0);
        m_buffers->init(16 * 1024 * 1024);
        build();
    }
    ~DownloadGroupFixture() override { tearDownParts(); }

    void build()
    {
        m_executor = std::make_shared<fv_transfers::CTrasfersAsyncTasksExecutor>(2, "fv-dl-task-");
        m_engine = std::make_unique<ThreadedTestEngine>(m_buffers);
        m_manager = std::make_unique<CDownloadGroupManager>();
        m_manager->setEngine(m_engine.get());
        m_manager->setTasksExecutor(m_executor);
        m_manager->setFileEnvironment(quickRetries());
        m_manager->setCallbackForAllGroups(&m_events);
        m_engine->setManager(m_manager.get());
    }
    // The engine first (it holds files), then the groups and their executor.
    void tearDownParts()
    {
        if (m_engine)
            m_engine->stop();
        m_manager.reset();
        releaseExecutor(m_executor);
        m_engine.reset();
    }

    std::int32_t createGroup(const std::string& destination,
                             std::shared_ptr<CDownloadManager::GroupInfoMap> groupInfo = nullptr)
    {
        return DownloadTestBase::createGroup(*m_manager, destination, std::move(groupInfo));
    }
    std::shared_ptr<CDownloadGroup> group(std::int32_t id) { return m_manager->findDownloadGroup(id); }

    std::shared_ptr<fv_transfers::ITransferBufferManager> m_buffers;
    std::shared_ptr<fv_transfers::CTrasfersAsyncTasksExecutor> m_executor;
    std::unique_ptr<ThreadedTestEngine> m_engine;
    std::unique_ptr<CDownloadGroupManager> m_manager;
};

} // namespace fv_test
