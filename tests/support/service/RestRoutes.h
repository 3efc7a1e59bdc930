#pragma once

#include "support/service/ServiceModel.h"

#include <json/json.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

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
//   GET  /api/v2/bucket/{bucketId}/file/{fileId}/download    download details (signed GET URL,
//                                                            manifest URL or "")
//   GET  /api/v2/bucket/{bucketId}/file/{fileId}/manifest?token=   the file's multipart manifest
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
// joins the parts into fileKey(), so an upload can be checked end to end. The headers handed
// out with a storage URL ("x-fv-file-id", "x-fv-part-number") are recorded for its key, and
// storage refuses an upload to that key without them (see StorageRoutes.h). Aborting a multipart
// upload forgets it and records its id (abortedUploads()).
//
// Answers are shaped further through the service's FaultPlan (see RestFaults.h).
// How addMultipartFile presents a file uploaded in parts.
struct MultipartLayout {
    std::vector<uint64_t> partSizes; // parts 1..N back to back; they add up to the content
    // Without a manifest only the "<hex>-N" digest says the file came in parts, and a client
    // divides it as it likes.
    bool withManifest = true;
    std::vector<uint32_t> manifestOrder; // part numbers as the manifest lists them; empty: 1..N
};

// What a test may change while the routes serve; read by the handlers on connection threads.
struct RestSettings {
    std::atomic<int64_t> urlValiditySeconds{0};
    std::atomic<bool> repeatedCompleteNotFound{false};
};

class RestRoutes {
public:
    // Installs the routes; they stay on the service for its life.
    explicit RestRoutes(TestService& service);

    ServiceBucket addBucket(const std::string& id, const std::string& token, const std::string& status = "EDITING",
                            bool uploadAllowed = true, int64_t createdSeconds = 1700000000);
    ServiceFile addFile(const std::string& bucketId, const std::string& fileId, uint64_t size = 0,
                        const std::string& status = "INITIALIZED");
    void addUser(const std::string& userId, const std::string& password) { m_accounts->addUser(userId, password); }
    // A downloadable file (status COMPLETED) stored whole under fileKey(): its download details
    // give the "-N" multipart digest and, with a manifest, the URL of one that lists each part's
    // number, size and MD5. A test may still change the record's `manifest` or `md5Digest`.
    // Throws std::invalid_argument when the sizes or the order do not fit the content.
    ServiceFile addMultipartFile(const std::string& bucketId, const std::string& fileId, const std::string& content,
                                 const MultipartLayout& layout);
    // The same for `size` bytes already stored under fileKey(), whose parts have these MD5s
    // (lowercase hex): content too large to pass around as one string.
    ServiceFile addStoredMultipartFile(const std::string& bucketId, const std::string& fileId, uint64_t size,
                                       const MultipartLayout& layout, const std::vector<std::string>& partMd5s);
    // Parts of `partSize` bytes, the last one shorter; one empty part for an empty file.
    static std::vector<uint64_t> evenParts(uint64_t size, uint64_t partSize);
    // "<MD5 of the parts' binary MD5s>-<N>", as a store reports a file uploaded in N parts.
    static std::string multipartDigest(const std::vector<std::string>& partMd5s);

    // How long the signed URLs handed out from now on stay valid (kUrlValiditySeconds until
    // set). 0 hands out URLs that are refused at once.
    void setUrlValidity(std::chrono::seconds validity) { m_settings->urlValiditySeconds.store(validity.count()); }
    std::chrono::seconds urlValidity() const { return std::chrono::seconds(m_settings->urlValiditySeconds.load()); }
    // A multipart complete of an upload already completed is answered like the first one (200,
    // the same file), as a retry after a lost answer needs; with `notFound` it gets 404, as an
    // upload that is no longer open.
    void setRepeatedCompleteNotFound(bool notFound) { m_settings->repeatedCompleteNotFound.store(notFound); }

    // Copies of the records (a default one when absent).
    ServiceBucket bucket(const std::string& id) const;
    ServiceFile file(const std::string& id) const;
    std::map<std::string, MultipartSession> multipartSessions() const;
    // The ids of the multipart uploads that were aborted (their records are gone).
    std::set<std::string> abortedUploads() const;

    static std::string fileKey(const std::string& bucketId, const std::string& fileId);
    static std::string partKey(const std::string& uploadId, uint32_t number);
    static std::string manifestPath(const std::string& bucketId, const std::string& fileId);
    // Default lifetime of the signed URLs handed out.
    static constexpr int64_t kUrlValiditySeconds = 3600;
    static constexpr const char* kFileStatusExceptionType = "ferrovan.service.bucket.FileStatusException";

private:
    TestService& m_service;
    std::shared_ptr<RestAccounts> m_accounts;
    std::shared_ptr<RestSettings> m_settings;
};

} // namespace fv_test
