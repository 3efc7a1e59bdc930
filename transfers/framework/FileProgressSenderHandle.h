#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace fv_transfers {

class CFileProgressSender;

// An upload group's way to the file progress sender: the sender with the group's bucket id and
// token, which go with every event. Without a sender it sends nothing.
class CFileProgressSenderHandle {
public:
    // Takes the process's sender; logs once when there is none.
    CFileProgressSenderHandle(std::string bucketId, std::string bucketToken);
    CFileProgressSenderHandle(std::shared_ptr<CFileProgressSender> sender, std::string bucketId,
                              std::string bucketToken);

    bool hasSender() const { return m_sender != nullptr; }
    // Never throws and never waits for the network (see CFileProgressSender::sendProgress).
    void sendProgress(const std::string& fileId, std::uint64_t progress) const;
    // The file completed or left the group.
    void forgetFile(const std::string& fileId) const;

private:
    std::shared_ptr<CFileProgressSender> m_sender;
    std::string m_bucketId;
    std::string m_bucketToken;
};

} // namespace fv_transfers
