#pragma once

#include "core/base/StringConversion.h"
#include "core/config/FvTransfersGlobalConfig.h"
#include "core/log/FvTransfersLogger.h"
#include "db/DbDataLoader.h"
#include "db/DbHolder.h"
#include "framework/FailedGroupsRestarter.h"
#include "support/fixtures/EventRecorder.h"
#include "support/fixtures/TestBytes.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/TransportTest.h"
#include "support/service/RestRoutes.h"
#include "support/service/TestService.h"
#include "upload/UploadManager.h"
#include "upload/UploadManagerProxy.h"

#include <Poco/Data/Session.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <optional>
#include <memory>
#include <string>
#include <vector>

namespace fv_test {

using fv_transfers::CTransferManagerBase;
using fv_transfers::CUploadManager;

// The subscriber of an upload manager: every group and file event, in order.
class UploadEvents : public CUploadManager::ICallback {
public:
    void onGroupStateChanged(const CUploadManager::GroupState& state) override { groups.record(state); }
    void onFileStateChanged(const CTransferManagerBase::FileState& state) override { files.record(state); }

    std::size_t groupEvents(std::int32_t groupId, std::int32_t state) const
    {
        const auto values = groups.values();
        return static_cast<std::size_t>(std::count_if(values.begin(), values.end(), [&](const auto& event) {
            return event.id == groupId && event.state == state;
        }));
    }
    std::vector<CTransferManagerBase::FileState> fileEvents(const std::string& fileId) const
    {
        std::vector<CTransferManagerBase::FileState> result;
        for (const auto& event : files.values()) {
            if (event.fileId == fileId)
                result.push_back(event);
        }
        return result;
    }
    std::size_t fileEventsIn(const std::string& fileId, std::int32_t state) const
    {
        const auto events = fileEvents(fileId);
        return static_cast<std::size_t>(
            std::count_if(events.begin(), events.end(), [&](const auto& event) { return event.state == state; }));
    }

    EventRecorder<CUploadManager::GroupState> groups;
    EventRecorder<CTransferManagerBase::FileState> files;
};

// The exported upload manager, as the main program drives it, against the test service, with
// the library's database in a folder of its own.
class UploadManagerFixture : public ::testing::Test {
protected:
    static constexpr const char* kBucket = "B1";
    static constexpr const char* kToken = "T1";
    static constexpr std::uint64_t KiB = 1024;
    static constexpr std::uint64_t MiB = 1024 * KiB;

    UploadManagerFixture() : m_rest(m_service)
    {
        prepareTransportTest();
        auto config = fv_transfers::CFvTransfersGlobalConfig::getInstance();
        config->setAppFilesPath(fv_transfers::utf8ToWide(m_app.path()));
        config->setRestEndPointUrl(m_service.baseUrl());
        fv_transfers::CDbHolder::createInstance();
        fv_transfers::CFailedGroupsRestarter::getInstance()->setInterval(std::chrono::milliseconds(200));
        // A bucket older than a week pauses its upload group at start-up.
        m_rest.addBucket(kBucket, kToken, "EDITING", true, nowSeconds());
    }
    static std::int64_t nowSeconds()
    {
        return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
    ~UploadManagerFixture() override
    {
        m_manager.reset();
        if (HasFailure())
            printLogTail();
        fv_transfers::CFailedGroupsRestarter::destroyInstance();
        fv_transfers::CDbDataLoader::getInstance().releaseUploadData();
        fv_transfers::CDbHolder::releaseInstance();
    }

    // A manager over a proxy whose bucket check waits at most a second, with short time-outs
    // and retries without the production back-off.
    void makeManager(std::uint64_t minMultipartSize = 4 * MiB,
                     fv_transfers::CTransferManagerProxyBase::Environment environment = {})
    {
        environment.bucketCheckBound = std::chrono::milliseconds(1000);
        fv_transfers::UploadFileEnvironment files;
        files.channelSeams.firstBackOff = std::chrono::milliseconds(1);
        files.channelSeams.maxBackOff = std::chrono::milliseconds(2);
        m_manager =
            std::make_unique<CUploadManager>(std::make_unique<fv_transfers::CUploadManagerProxy>(environment, files));
        CUploadManager::Configuration configuration = m_manager->getConfiguration();
        // Short enough that a stalled request ends soon, long enough that a service slowed down by
        // a sanitizer on a loaded machine is not taken for one.
        configuration.connectionTimeoutMs = 5000;
        configuration.sendTimeoutMs = 5000;
        configuration.receiveTimeoutMs = 5000;
        configuration.preventSleep = false;
        configuration.minMultipartSize = minMultipartSize;
        ASSERT_EQ(0, m_manager->setConfiguration(configuration));
    }
    int createGroup(const std::string& bucket = kBucket, const std::string& token = kToken)
    {
        std::string bucketId = bucket, type = "UPLOAD", bucketToken = token;
        return m_manager->createGroup(bucketId, type, bucketToken, 0);
    }
    // A local file of `size` patterned bytes, and its description.
    CUploadManager::FileDesc localFile(const std::string& uid, std::uint64_t size, unsigned pattern = 3)
    {
        const std::string path = m_files.file(uid + ".bin");
        writeFile(path, patternedBytes(size, pattern));
        m_rest.addFile(kBucket, uid, size);
        return CUploadManager::FileDesc{uid, fv_transfers::utf8ToWide("file://" + path)};
    }
    void queue(int groupId, std::vector<CUploadManager::FileDesc> files) { m_manager->queueFiles(groupId, files); }
    bool completed(int groupId) const
    {
        return m_events.groupEvents(groupId, CTransferManagerBase::GROUP_COMPLETED) > 0;
    }
    // What the service stored for a file, or nothing.
    std::optional<std::string> stored(const std::string& uid)
    {
        return m_service.model().objects().contents(RestRoutes::fileKey(kBucket, uid));
    }
    std::string localContent(const std::string& uid) const { return readFile(m_files.file(uid + ".bin")); }

    // The library's last lines go with a failure's report.
    static void printLogTail(std::size_t lines = 150)
    {
        const std::string text = readFile(fv_transfers::getLogFilePath());
        std::size_t start = text.size();
        for (std::size_t found = 0; start > 0 && found <= lines; --start)
            found += text[start - 1] == '\n' ? 1 : 0;
        std::cerr << "--- library log (last lines) ---\n" << text.substr(start) << "--- end of log ---\n";
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
    std::int64_t allRows() { return rows("GroupsDictionary") + rows("FilesDictionary") + rows("ChannelsDictionary"); }
    std::string uploadPath(const std::string& uid, const std::string& action = "") const
    {
        return "/api/v2/bucket/" + std::string(kBucket) + "/file/" + uid + "/upload" +
               (action.empty() ? "" : "/multipart/" + action);
    }

    TempDir m_app;
    TempDir m_files;
    TestService m_service;
    RestRoutes m_rest;
    UploadEvents m_events;
    std::unique_ptr<CUploadManager> m_manager;
};

} // namespace fv_test
