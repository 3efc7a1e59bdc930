#pragma once

#include "support/service/ServiceModel.h"

#include <json/json.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace fv_test {

class TestService;

// Accounts of the bucket client's login, which ServiceModel has no place for.
class RestAccounts {
public:
    void addUser(const std::string& userId, const std::string& password);
    // A new login token, or empty for unknown credentials.
    std::string login(const std::string& userId, const std::string& password);
    bool isLoginToken(const std::string& token) const;

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_passwords;
    std::map<std::string, std::string> m_tokens; // token -> user
    uint64_t m_next = 1;
};

// The service's REST side on a TestService, on the shared ServiceModel:
//   GET  /api/v2/bucket/{bucketId}?token=&detail=           bucket status
//   GET  /api/v2/bucket/{bucketId}/file/{fileId}/download    download details (signed GET URL)
//   POST /api/v2/bucket/{bucketId}/file/{fileId}/upload      upload details (signed PUT URL)
//   POST /api/v2/bucket/{bucketId}/file/{fileId}/status      file status and progress
//   POST /api/v2/bucket/{bucketId}/file/{fileId}/upload/multipart/{initialize|complete|abort}
//   POST /login, POST /api/v2/bucket/message, POST /api/v2/bucket/{bucketId}/files (these three
//   for a logged-in user: "x-fv-auth-token")
// Bucket tokens are checked (query for GETs, body "token" for POSTs): 401 when wrong, 404 for
// an unknown bucket or file, 400 for a body that is not the expected JSON, 409 with the
// file-status error type for a file the service no longer accepts. Storage URLs handed out
// are signed URLs of the same service, on the scheme the request came in on; a single-part
// file is stored under fileKey(), a part under partKey(), and completing a multipart upload
// joins the parts into fileKey(), so an upload can be checked end to end.
//
// Answers are shaped further through the service's FaultPlan (see RestFaults.h).
class RestRoutes {
public:
    // Installs the routes; they stay on the service for its life.
    explicit RestRoutes(TestService& service);

    ServiceBucket addBucket(const std::string& id, const std::string& token, const std::string& status = "EDITING",
                            bool uploadAllowed = true, int64_t createdSeconds = 1700000000);
    ServiceFile addFile(const std::string& bucketId, const std::string& fileId, uint64_t size = 0,
                        const std::string& status = "INITIALIZED");
    void addUser(const std::string& userId, const std::string& password) { m_accounts->addUser(userId, password); }

    // Copies of the records (a default one when absent).
    ServiceBucket bucket(const std::string& id) const;
    ServiceFile file(const std::string& id) const;
    std::map<std::string, MultipartSession> multipartSessions() const;

    static std::string fileKey(const std::string& bucketId, const std::string& fileId);
    static std::string partKey(const std::string& uploadId, uint32_t number);
    // Lifetime of the signed URLs handed out.
    static constexpr int64_t kUrlValiditySeconds = 3600;
    static constexpr const char* kFileStatusExceptionType = "ferrovan.service.bucket.FileStatusException";

private:
    TestService& m_service;
    std::shared_ptr<RestAccounts> m_accounts;
};

} // namespace fv_test
