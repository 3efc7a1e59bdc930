#pragma once

#include "support/fixtures/EventRecorder.h"
#include "support/service/RequestLog.h"
#include "transfers/upload/UploadManagerFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace fv_test {

// The upload manager fixture with the waits and checks of the lifecycle and fault tests: a
// started manager, the storage PUTs the service saw, and a group that must end clean.
class UploadFaultFixture : public UploadManagerFixture {
public:
    static constexpr std::uint32_t kRetries = 3;
    static constexpr int kWaitMs = 90000;

protected:
    // A started manager with a subscriber, `kRetries` attempts per range, and a new group that
    // holds `files` with its queue marked; the group's id, -1 when it could not be made.
    int startMarkedGroup(const std::vector<CUploadManager::FileDesc>& files)
    {
        const int id = startWithGroup();
        if (id >= 0) {
            queue(id, files);
            m_manager->markQueue(id);
        }
        return id;
    }

    // The next run of the program: a new manager on the same app folder, subscribed and started;
    // the id of the group it restored for the fixture's bucket, -1 without one.
    int restartAndFindGroup()
    {
        makeManager();
        m_manager->subscribeToEvents(&m_events);
        m_manager->startup();
        std::string bucket = kBucket;
        return m_manager->findGroupByBucketId(bucket);
    }

private:
    int startWithGroup()
    {
        makeManager(4 * MiB);
        CUploadManager::Configuration configuration = m_manager->getConfiguration();
        configuration.maxTransferRetries = kRetries;
        EXPECT_EQ(0, m_manager->setConfiguration(configuration));
        m_manager->subscribeToEvents(&m_events);
        m_manager->startup();
        return createGroup();
    }

protected:
    bool waitFileState(const std::string& uid, std::int32_t state, int timeoutMs = kWaitMs)
    {
        return waitUntil([&] { return m_events.fileEventsIn(uid, state) > 0; }, timeoutMs);
    }
    // Whether one of the file's ERRORED events carries `code`.
    bool hasErrorCode(const std::string& uid, std::int32_t code) const
    {
        for (const auto& event : m_events.fileEvents(uid)) {
            if (event.state == CTransferManagerBase::FILE_ERRORED && event.errorCode == code)
                return true;
        }
        return false;
    }
    // The code of the file's first ERRORED event; -1 without one.
    std::int32_t firstErrorCode(const std::string& uid) const
    {
        for (const auto& event : m_events.fileEvents(uid)) {
            if (event.state == CTransferManagerBase::FILE_ERRORED)
                return event.errorCode;
        }
        return -1;
    }

    // Storage PUTs whose path starts with `prefix`, as `service` saw them.
    static std::vector<LoggedRequest> putsTo(TestService& service, const std::string& prefix = "/storage/")
    {
        std::vector<LoggedRequest> found;
        for (LoggedRequest& request : service.log().all()) {
            if (request.method == "PUT" && request.path.rfind(prefix, 0) == 0)
                found.push_back(std::move(request));
        }
        return found;
    }
    std::vector<LoggedRequest> puts(const std::string& prefix = "/storage/") { return putsTo(m_service, prefix); }
    std::size_t restCalls(const std::string& uid, const std::string& action = "")
    {
        return m_service.log().forPath(uploadPath(uid, action), "POST").size();
    }
    std::string partsPrefix(const std::string& uploadId) const { return "/storage/parts/" + uploadId + "/"; }

    // The marked group completed with every file stored (by `service`, the fixture's when null)
    // as it is on disk, and left no rows.
    void expectCompletedClean(int groupId, const std::vector<std::string>& uids, TestService* service = nullptr)
    {
        TestService& storage = service ? *service : m_service;
        ASSERT_TRUE(waitUntil([&] { return completed(groupId); }, kWaitMs));
        for (const std::string& uid : uids) {
            EXPECT_TRUE(storage.model().objects().contents(RestRoutes::fileKey(kBucket, uid)) == localContent(uid))
                << uid;
        }
        EXPECT_TRUE(waitUntil([&] { return allRows() == 0; }, 10000)) << allRows() << " rows left";
    }

    // The group's state as the manager reports it.
    CUploadManager::GroupState groupState(int groupId)
    {
        CUploadManager::GroupState state;
        EXPECT_EQ(0, m_manager->getGroupState(groupId, state));
        return state;
    }
};

} // namespace fv_test
