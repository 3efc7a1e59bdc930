#pragma once

#include "core/base/StringConversion.h"
#include "core/config/FvTransfersGlobalConfig.h"
#include "db/DbDataLoader.h"
#include "db/DbHolder.h"
#include "framework/FailedGroupsRestarter.h"
#include "framework/FileProgressSender.h"
#include "framework/TrasfersAsyncTasksExecutor.h"
#include "support/fixtures/EventRecorder.h"
#include "support/fixtures/RecordingCallback.h"
#include "support/fixtures/TestBytes.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/TransportTest.h"
#include "support/service/RestRoutes.h"
#include "support/service/TestService.h"
#include "upload/GroupManager.h"
#include "upload/UploadEngine.h"
#include "upload/UploadGroup.h"

#include <Poco/Data/Session.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fv_test {

using fv_transfers::CGroupManager;
using fv_transfers::CTransferManagerBase;
using fv_transfers::CUploadEngine;
using fv_transfers::CUploadGroup;
using fv_transfers::CUploadManager;
using fv_transfers::UploadFileDesc;

using UploadEvents = RecordingCallback<CUploadManager>;

// A temp app folder with its database, the test service with one bucket, a folder of local
// files, the subscriber, and the parts the manager proxy assembles: an executor, the group
// manager and the upload engine (one transfer at a time, so a second file stays queued while
// the first runs).
class UploadGroupFixture : public ::testing::Test {
protected:
    static constexpr const char* kBucket = "B1";
    static constexpr const char* kToken = "T1";

    UploadGroupFixture() : m_rest(m_service)
    {
        prepareTransportTest();
        fv_transfers::CFvTransfersGlobalConfig::getInstance()->setAppFilesPath(fv_transfers::utf8ToWide(m_app.path()));
        fv_transfers::CFvTransfersGlobalConfig::getInstance()->setRestEndPointUrl(m_service.baseUrl());
        fv_transfers::CDbHolder::createInstance();
        // Long enough that a registered group is still registered when the test looks.
        fv_transfers::CFailedGroupsRestarter::getInstance()->setInterval(std::chrono::hours(1));
        m_rest.addBucket(kBucket, kToken);
        build();
    }
    ~UploadGroupFixture() override
    {
        tearDownParts();
        fv_transfers::CFileProgressSender::destroyInstance();
        fv_transfers::CFailedGroupsRestarter::destroyInstance();
        fv_transfers::CDbDataLoader::getInstance().releaseUploadData();
        fv_transfers::CDbHolder::releaseInstance();
    }

    void build(bool startEngine = true)
    {
        m_executor = std::make_shared<fv_transfers::CTrasfersAsyncTasksExecutor>(2, "fv-ul-task-");
        m_manager = std::make_unique<CGroupManager>();
        CUploadEngine::Limits limits;
        limits.maxConcurrentTransfers = 1;
        limits.maxTransferRetries = 2;
        m_engine = std::make_unique<CUploadEngine>(*m_manager, limits);
        m_manager->setEngine(m_engine.get());
        m_manager->setTasksExecutor(m_executor);
        m_manager->setFileEnvironment(quickRetries());
        m_manager->setCallbackForAllGroups(&m_events);
        if (startEngine)
            m_engine->init();
    }
    // The engine's thread first; then the groups (the manager's, and those the engine still
    // holds after they left it), whose files hold the executor; then the executor.
    void tearDownParts()
    {
        if (m_engine)
            m_engine->uninit();
        m_manager.reset();
        m_engine.reset();
        if (m_executor) {
            EXPECT_TRUE(waitUntil([&] { return m_executor.use_count() == 1; }, 20000));
        }
        m_executor.reset();
    }
    static fv_transfers::UploadFileEnvironment quickRetries()
    {
        fv_transfers::UploadFileEnvironment environment;
        environment.channelSeams.firstBackOff = std::chrono::milliseconds(1);
        environment.channelSeams.maxBackOff = std::chrono::milliseconds(2);
        return environment;
    }

    std::int32_t createGroup()
    {
        CUploadGroup::TransferGroupInitParams params;
        params.bucketId = kBucket;
        params.bucketToken = kToken;
        params.bucketType = "UPLOAD";
        return m_manager->addGroup(params);
    }
    std::shared_ptr<CUploadGroup> group(std::int32_t id) const { return m_manager->findUploadGroup(id); }
    CUploadManager::GroupState stateOf(std::int32_t id) const
    {
        CUploadManager::GroupState state;
        if (auto found = group(id))
            found->getGroupState(state);
        return state;
    }

    // A local file of `size` patterned bytes, known to the service, and its description.
    UploadFileDesc localFile(const std::string& id, std::uint64_t size, unsigned pattern = 5)
    {
        const std::string content = patternedBytes(size, pattern);
        writeFile(m_files.file(id + ".bin"), content);
        m_contents[id] = content;
        m_rest.addFile(kBucket, id, size);
        return UploadFileDesc{id, fv_transfers::utf8ToWide("file://" + m_files.file(id + ".bin"))};
    }
    // What the service stored for the file.
    std::string stored(const std::string& id)
    {
        const auto object = m_service.model().objects().find(RestRoutes::fileKey(kBucket, id));
        if (!object)
            return std::string();
        std::string bytes(object->size(), '\0');
        object->read(0, &bytes[0], bytes.size());
        return bytes;
    }
    std::size_t requestsOf(const std::string& method)
    {
        const auto requests = m_service.log().all();
        return static_cast<std::size_t>(std::count_if(requests.begin(), requests.end(),
                                                      [&](const auto& request) { return request.method == method; }));
    }

    fv_transfers::CDbHolder& db() { return *fv_transfers::CDbHolder::getInstance(); }
    std::int64_t rows(const std::string& table, const std::string& where = "")
    {
        std::vector<Poco::Int64> counts;
        db().getConnection()->run("select from", "test", [&](Poco::Data::Session& session) {
            session << "SELECT COUNT(*) FROM " + table + (where.empty() ? "" : " WHERE " + where),
                Poco::Data::Keywords::into(counts), Poco::Data::Keywords::now;
        });
        return counts.empty() ? -1 : counts.front();
    }
    std::int64_t rowsOfFile(const std::string& id)
    {
        return rows("FilesDictionary", "FileUid = '" + id + "'") + rows("ChannelsDictionary", "FileUid = '" + id + "'");
    }
    std::int64_t allRows() { return rows("GroupsDictionary") + rows("FilesDictionary") + rows("ChannelsDictionary"); }

    TempDir m_app;
    TempDir m_files;
    TestService m_service;
    RestRoutes m_rest;
    UploadEvents m_events;
    std::map<std::string, std::string> m_contents;
    std::shared_ptr<fv_transfers::CTrasfersAsyncTasksExecutor> m_executor;
    std::unique_ptr<CGroupManager> m_manager;
    std::unique_ptr<CUploadEngine> m_engine;
};

} // namespace fv_test
