#pragma once

#include "framework/TransferGroup.h"

#include <cstdint>
#include <string>

namespace fv_test {

// A group that only answers its id and bucket; tests override the operations they watch.
class InertTransferGroup : public fv_transfers::ITransferGroup {
public:
    InertTransferGroup(std::int32_t id, std::string bucketId) : m_id(id), m_bucketId(std::move(bucketId)) {}

    void pause() override {}
    void requestResume(bool) override {}
    void cancel() override {}
    bool isPaused() override { return false; }
    void restoreFilesFromDb() override {}
    void resetFileEntries() override {}
    const std::string& getBucketIdRef() const override { return m_bucketId; }
    void getBucketId(std::string& bucketId) const override { bucketId = m_bucketId; }
    void getBucketToken(std::string& token) const override { token.clear(); }
    std::int32_t getGroupId() const override { return m_id; }
    void resumeGroupAsync(bool) override {}
    void setRetryCounterLocked(std::uint32_t, bool) override {}

private:
    const std::int32_t m_id;
    const std::string m_bucketId;
};

} // namespace fv_test
