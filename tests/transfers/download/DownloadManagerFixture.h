#pragma once

#include "download/DownloadManager.h"
#include "download/DownloadManagerProxy.h"
#include "transfers/download/DownloadGroupFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace fv_test {

// The exported manager, as the main program drives it, against the test service.
class DownloadManagerFixture : public DownloadTestBase {
protected:
    ~DownloadManagerFixture() override { m_manager.reset(); }

    // A manager over a proxy whose bucket check waits at most a second.
    void makeManager(fv_transfers::CTransferManagerProxyBase::Environment environment = {})
    {
        environment.bucketCheckBound = std::chrono::milliseconds(1000);
        m_manager =
            std::make_unique<CDownloadManager>(std::make_unique<fv_transfers::CDownloadManagerProxy>(environment));
        CTransferManagerBase::Configuration configuration = m_manager->getConfiguration();
        configuration.connectionTimeoutMs = 2000;
        configuration.sendTimeoutMs = 2000;
        configuration.receiveTimeoutMs = 2000;
        configuration.preventSleep = false;
        ASSERT_EQ(0, m_manager->setConfiguration(configuration));
    }
    int createGroup(std::shared_ptr<CDownloadManager::GroupInfoMap> info = nullptr, const std::string& bucket = kBucket,
                    const std::string& token = kToken)
    {
        std::string bucketId = bucket;
        std::string type = "DOWNLOAD";
        std::string bucketToken = token;
        std::wstring path = fv_transfers::utf8ToWide(folderUrl(m_folder));
        return m_manager->createGroup(bucketId, type, bucketToken, 0, path, info);
    }
    void queue(int groupId, std::vector<FileDownloadDetails> files) { m_manager->queueFiles(groupId, files); }
    bool completed(int groupId) const { return reached(groupId, CTransferManagerBase::GROUP_COMPLETED); }
    bool reached(int groupId, std::int32_t state) const
    {
        const auto values = m_events.groups.values();
        return std::any_of(values.begin(), values.end(),
                           [&](const auto& event) { return event.id == groupId && event.state == state; });
    }
    std::size_t eventsOf(int groupId) const
    {
        const auto values = m_events.groups.values();
        return static_cast<std::size_t>(
            std::count_if(values.begin(), values.end(), [&](const auto& event) { return event.id == groupId; }));
    }

    std::vector<LoggedRequest> storageGets(const std::string& id)
    {
        return m_service.log().forPath(storagePathOf(id), "GET");
    }
    std::string storagePathOf(const std::string& id) const
    {
        return m_service.storagePath(RestRoutes::fileKey(kBucket, id));
    }

    std::unique_ptr<CDownloadManager> m_manager;
};

} // namespace fv_test
