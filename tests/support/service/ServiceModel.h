#pragma once

#include "support/service/ObjectStore.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace fv_test {

struct ServiceBucket {
    std::string id;
    std::string token;
    std::string status;
    int64_t created = 0; // Unix seconds
    bool uploadAllowed = true;
};

struct ServiceFile {
    std::string id;
    std::string bucketId;
    std::string name;
    uint64_t size = 0;
    std::string status;
    uint64_t progress = 0;
    std::string objectKey; // where its bytes live in the object store
    // The download details' digest; empty: the stored object's MD5.
    std::string md5Digest;
    bool withoutDigest = false; // the download details give an empty digest whatever is stored
    // The multipart manifest's text, served as it is; empty: the file has none.
    std::string manifest;
};

struct MultipartPart {
    uint32_t number = 0;
    uint64_t size = 0;
    std::string objectKey;
    std::string md5;
};

struct MultipartSession {
    std::string uploadId;
    std::string bucketId;
    std::string fileId;
    uint64_t partSize = 0;
    std::vector<MultipartPart> parts;
    bool completed = false; // kept after the complete, so a repeated one finds it
};

// Header name -> the value a storage upload must bring.
using PrescribedHeaders = std::map<std::string, std::string>;

// The REST side's records. Touch them only inside ServiceModel::withState.
struct ServiceState {
    std::map<std::string, ServiceBucket> buckets;              // by id
    std::map<std::string, ServiceFile> files;                  // by id
    std::map<std::string, MultipartSession> multipartSessions; // by upload id
    std::set<std::string> abortedUploads;                      // ids whose abort erased them
    // What the upload details handed out with each storage URL, by object key.
    std::map<std::string, PrescribedHeaders> prescribedHeaders;
    std::string loginToken;
    uint64_t nextId = 1;

    std::string newId(const std::string& prefix) { return prefix + std::to_string(nextId++); }
};

// The one model every route shares: stored objects (thread-safe on their own) and the REST
// records behind a mutex. Handlers run on connection threads, so they change the records
// only through withState, and never hold the lock while they send or receive.
class ServiceModel {
public:
    explicit ServiceModel(const std::string& dataDirectory = "") : m_objects(dataDirectory) {}

    ObjectStore& objects() { return m_objects; }

    template <typename Function>
    auto withState(Function&& function) -> decltype(function(std::declval<ServiceState&>()))
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return function(m_state);
    }

private:
    ObjectStore m_objects;
    std::mutex m_mutex;
    ServiceState m_state;
};

} // namespace fv_test
