#include "support/service/RestRoutes.h"

#include "support/service/PartDigests.h"
#include "support/service/TestService.h"

#include <Poco/DigestEngine.h>
#include <Poco/MD5Engine.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <stdexcept>
#include <vector>

namespace fv_test {

namespace {

// Ends a handler with an error answer: {"type": ..., "message": ...}.
struct RestFailure : std::runtime_error {
    RestFailure(int status, std::string type, const std::string& message)
        : std::runtime_error(message), status(status), type(std::move(type))
    {
    }
    int status;
    std::string type;
};

[[noreturn]] void fail(int status, const std::string& message, const std::string& type = "")
{
    static const std::map<int, std::string> kTypes = {{400, "ferrovan.service.BadRequestException"},
                                                      {401, "ferrovan.service.AuthenticationException"},
                                                      {404, "ferrovan.service.NotFoundException"},
                                                      {409, RestRoutes::kFileStatusExceptionType}};
    const auto known = kTypes.find(status);
    throw RestFailure(status, !type.empty() ? type : known != kTypes.end() ? known->second : "", message);
}

std::string writeJson(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

using JsonHandler = std::function<Json::Value(ServiceRequest&)>;
using TextHandler = std::function<std::string(ServiceRequest&)>;

// A JSON answer given as text, so a stored document is served byte for byte.
RouteHandler textRoute(TextHandler handler)
{
    return [handler = std::move(handler)](ServiceRequest& request, ServiceResponse& response) {
        try {
            response.setBody(200, handler(request), "application/json");
        } catch (const RestFailure& failure) {
            Json::Value error(Json::objectValue);
            error["type"] = failure.type;
            error["message"] = failure.what();
            response.setBody(failure.status, writeJson(error), "application/json");
        }
    };
}

RouteHandler jsonRoute(JsonHandler handler)
{
    return textRoute([handler = std::move(handler)](ServiceRequest& request) { return writeJson(handler(request)); });
}

Json::Value readJsonObject(ServiceRequest& request)
{
    const std::string text = request.readWholeBody(1024 * 1024);
    Json::CharReaderBuilder builder;
    builder["failIfExtra"] = true;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors) || !root.isObject())
        fail(400, "the body is not a JSON object");
    return root;
}

std::string requireString(const Json::Value& body, const char* name)
{
    const Json::Value& value = body[name];
    if (!value.isString())
        fail(400, std::string("\"") + name + "\" must be a string");
    return value.asString();
}

uint64_t requireUInt64(const Json::Value& body, const char* name)
{
    const Json::Value& value = body[name];
    if (!value.isUInt64())
        fail(400, std::string("\"") + name + "\" must be an unsigned number");
    return value.asUInt64();
}

// null or a string.
std::string optionalString(const Json::Value& body, const char* name)
{
    const Json::Value& value = body[name];
    if (value.isNull())
        return std::string();
    if (!value.isString())
        fail(400, std::string("\"") + name + "\" must be a string or null");
    return value.asString();
}

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

ServiceBucket& requireBucket(ServiceState& state, const std::string& id, const std::string& token)
{
    const auto found = state.buckets.find(id);
    if (found == state.buckets.end())
        fail(404, "no bucket " + id);
    if (token != found->second.token)
        fail(401, "wrong bucket token");
    return found->second;
}

ServiceFile& requireFile(ServiceState& state, const std::string& bucketId, const std::string& fileId)
{
    const auto found = state.files.find(fileId);
    if (found == state.files.end() || found->second.bucketId != bucketId)
        fail(404, "no file " + fileId + " in bucket " + bucketId);
    return found->second;
}

Json::Value fileObject(const std::string& fileId, const std::string& bucketId)
{
    Json::Value file(Json::objectValue);
    file["id"] = fileId;
    file["bucketId"] = bucketId;
    return file;
}

// The ids and token of an upload-side POST, checked against the path and the model.
struct FileCall {
    Json::Value body;
    std::string bucketId;
    std::string fileId;
    std::string token;
};

FileCall readFileCall(ServiceRequest& request)
{
    FileCall call;
    call.body = readJsonObject(request);
    call.bucketId = request.param("bucketId");
    call.fileId = request.param("fileId");
    if (requireString(call.body, "bucketId") != call.bucketId || requireString(call.body, "fileId") != call.fileId)
        fail(400, "the body's ids differ from the path's");
    call.token = requireString(call.body, "token");
    return call;
}

void requireUploader(const Json::Value& body)
{
    if (requireString(body, "uploader") != "DESKTOP")
        fail(400, "unknown uploader");
}

bool acceptsUploads(const ServiceBucket& bucket, const ServiceFile& file)
{
    static const std::set<std::string> kClosedFile = {"COMPLETED", "CANCELLED", "DELETED", "EXPIRED"};
    static const std::set<std::string> kClosedBucket = {"COMPLETED", "EXPIRED", "DELETED", "ARCHIVED"};
    return bucket.uploadAllowed && !kClosedBucket.count(bucket.status) && !kClosedFile.count(file.status);
}

std::string requireLogin(const ServiceRequest& request, const RestAccounts& accounts)
{
    const std::string token = request.headers().get("x-fv-auth-token");
    if (!accounts.isLoginToken(token))
        fail(401, "not logged in");
    return token;
}

// The part numbers in the order the manifest lists them; throws std::invalid_argument unless
// it names each part 1..N once and the parts add up to `size`.
std::vector<uint32_t> listedOrder(const MultipartLayout& layout, uint64_t size)
{
    uint64_t total = 0;
    for (const uint64_t partSize : layout.partSizes) {
        if (partSize > size - total)
            throw std::invalid_argument("the parts are longer than the content");
        total += partSize;
    }
    if (layout.partSizes.empty() || total != size)
        throw std::invalid_argument("the parts do not add up to the content");
    const size_t count = layout.partSizes.size();
    std::vector<uint32_t> order = layout.manifestOrder;
    if (order.empty()) {
        for (uint32_t number = 1; number <= count; ++number)
            order.push_back(number);
    }
    std::vector<uint32_t> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 0; i < sorted.size(); ++i) {
        if (sorted.size() != count || sorted[i] != i + 1)
            throw std::invalid_argument("the manifest order must list each part number 1..N once");
    }
    return order;
}

class Handlers {
public:
    Handlers(TestService& service, std::shared_ptr<RestAccounts> accounts, std::shared_ptr<const RestSettings> settings)
        : m_service(service), m_model(service.model()), m_accounts(std::move(accounts)), m_settings(std::move(settings))
    {
    }

    // "url" and "expires" of one signed URL, from one reading of the clock.
    void signInto(Json::Value& target, const std::string& key, bool secure) const
    {
        const int64_t expiresAt = UrlSigner::now() + m_settings->urlValiditySeconds.load();
        target["url"] = m_service.storageUrlUntil(key, expiresAt, secure);
        target["expires"] = Json::UInt64(static_cast<uint64_t>(expiresAt) * 1000);
    }

    // A signed URL for `key` with the headers its upload must bring, which storage will check.
    Json::Value storageTarget(const std::string& key, bool secure, const PrescribedHeaders& headers) const
    {
        Json::Value target(Json::objectValue);
        signInto(target, key, secure);
        target["headers"] = Json::Value(Json::objectValue);
        for (const auto& header : headers)
            target["headers"][header.first] = header.second;
        m_model.withState([&](ServiceState& state) { state.prescribedHeaders[key] = headers; });
        return target;
    }

    Json::Value putDetails(const std::string& key, bool secure, const std::string& fileId) const
    {
        return storageTarget(key, secure, {{"x-fv-file-id", fileId}});
    }

    Json::Value bucketStatus(ServiceRequest& request)
    {
        const std::string token = request.queryParam("token");
        return m_model.withState([&](ServiceState& state) {
            const ServiceBucket& bucket = requireBucket(state, request.param("bucketId"), token);
            Json::Value answer;
            answer["bucket"]["id"] = bucket.id;
            answer["bucket"]["status"] = bucket.status;
            answer["bucket"]["uploadAllowed"] = bucket.uploadAllowed;
            answer["bucket"]["created"] = Json::UInt64(static_cast<uint64_t>(bucket.created) * 1000);
            return answer;
        });
    }

    Json::Value downloadDetails(ServiceRequest& request)
    {
        if (request.queryParam("action") != "DOWNLOAD")
            fail(400, "unknown action");
        const std::string bucketId = request.param("bucketId");
        const std::string fileId = request.param("fileId");
        const std::string token = request.queryParam("token");
        const ServiceFile file = m_model.withState([&](ServiceState& state) {
            requireBucket(state, bucketId, token);
            return requireFile(state, bucketId, fileId);
        });
        const std::string key = file.objectKey.empty() ? RestRoutes::fileKey(bucketId, fileId) : file.objectKey;
        const std::shared_ptr<const StoredObject> object = m_model.objects().find(key);
        if (!object)
            fail(404, "the file has no content yet");
        Json::Value answer;
        answer["file"] = fileObject(fileId, bucketId);
        answer["file"]["md5Digest"] = file.withoutDigest       ? std::string()
                                      : file.md5Digest.empty() ? object->md5()
                                                               : file.md5Digest;
        signInto(answer, key, request.secure());
        answer["multipartManifestUrl"] =
            file.manifest.empty()
                ? std::string()
                : m_service.url(RestRoutes::manifestPath(bucketId, fileId) + "?token=" + token, request.secure());
        return answer;
    }

    std::string manifest(ServiceRequest& request)
    {
        const std::string bucketId = request.param("bucketId");
        const std::string fileId = request.param("fileId");
        const std::string token = request.queryParam("token");
        const std::string text = m_model.withState([&](ServiceState& state) {
            requireBucket(state, bucketId, token);
            return requireFile(state, bucketId, fileId).manifest;
        });
        if (text.empty())
            fail(404, "the file has no manifest");
        return text;
    }

    Json::Value uploadDetails(ServiceRequest& request)
    {
        const FileCall call = readFileCall(request);
        requireUploader(call.body);
        const uint64_t size = requireUInt64(call.body, "size");
        optionalString(call.body, "md5Digest");
        const std::string key = RestRoutes::fileKey(call.bucketId, call.fileId);
        m_model.withState([&](ServiceState& state) {
            const ServiceBucket& bucket = requireBucket(state, call.bucketId, call.token);
            ServiceFile& file = requireFile(state, call.bucketId, call.fileId);
            if (!acceptsUploads(bucket, file))
                fail(409, "the file no longer takes uploads");
            file.size = size;
            file.objectKey = key;
        });
        Json::Value answer;
        answer["file"] = fileObject(call.fileId, call.bucketId);
        answer["put"] = putDetails(key, request.secure(), call.fileId);
        return answer;
    }

    Json::Value fileStatus(ServiceRequest& request)
    {
        static const std::set<std::string> kStatuses = {"INITIALIZED", "UPLOADING", "SYNCING", "COMPLETED",
                                                        "CANCELLED",   "DELETED",   "EXPIRED"};
        const FileCall call = readFileCall(request);
        const std::string status = requireString(call.body, "status");
        if (!kStatuses.count(status))
            fail(400, "unknown status");
        const uint64_t progress = requireUInt64(call.body, "progress");
        m_model.withState([&](ServiceState& state) {
            requireBucket(state, call.bucketId, call.token);
            ServiceFile& file = requireFile(state, call.bucketId, call.fileId);
            file.status = status;
            file.progress = progress;
        });
        Json::Value answer;
        answer["file"] = fileObject(call.fileId, call.bucketId);
        return answer;
    }

    Json::Value multipart(ServiceRequest& request)
    {
        const std::string action = request.param("action");
        const FileCall call = readFileCall(request);
        if (action == "initialize")
            return initialize(request, call);
        if (action == "complete")
            return complete(call);
        if (action == "abort")
            return abort(call);
        fail(404, "unknown multipart action");
    }

    Json::Value login(ServiceRequest& request)
    {
        const Json::Value body = readJsonObject(request);
        const std::string token = m_accounts->login(requireString(body, "userId"), requireString(body, "password"));
        if (token.empty())
            fail(401, "unknown user or wrong password");
        Json::Value answer;
        answer["token"] = token;
        answer["tokenExpires"] = Json::UInt64(static_cast<uint64_t>(nowMs()) + 3600 * 1000);
        return answer;
    }

    Json::Value createBucket(ServiceRequest& request)
    {
        requireLogin(request, *m_accounts);
        const Json::Value body = readJsonObject(request);
        if (requireString(body, "type") != "message")
            fail(400, "unknown bucket type");
        const ServiceBucket bucket = m_model.withState([&](ServiceState& state) {
            ServiceBucket created;
            created.id = state.newId("bucket-");
            created.token = state.newId("bucket-token-");
            created.status = "INITIALIZED";
            created.created = UrlSigner::now();
            state.buckets[created.id] = created;
            return created;
        });
        Json::Value answer;
        answer["token"] = bucket.token;
        answer["tokenExpires"] = Json::UInt64(static_cast<uint64_t>(nowMs()) + 3600 * 1000);
        answer["bucketId"] = bucket.id;
        return answer;
    }

    Json::Value addFiles(ServiceRequest& request)
    {
        requireLogin(request, *m_accounts);
        const Json::Value body = readJsonObject(request);
        const std::string bucketId = request.param("bucketId");
        if (requireString(body, "bucketId") != bucketId)
            fail(400, "the body's bucket id differs from the path's");
        requireUploader(body);
        const std::string token = requireString(body, "token");
        const Json::Value& files = body["files"];
        if (!files.isArray())
            fail(400, "\"files\" must be an array");
        for (const Json::Value& entry : files) {
            if (!entry.isObject())
                fail(400, "a file entry is not an object");
            requireString(entry, "name");
            requireUInt64(entry, "size");
        }
        const std::vector<std::string> ids = m_model.withState([&](ServiceState& state) {
            requireBucket(state, bucketId, token);
            std::vector<std::string> added;
            for (const Json::Value& entry : files) {
                ServiceFile file;
                file.id = state.newId("file-");
                file.bucketId = bucketId;
                file.name = entry["name"].asString();
                file.size = entry["size"].asUInt64();
                file.status = "INITIALIZED";
                file.objectKey = RestRoutes::fileKey(bucketId, file.id);
                state.files[file.id] = file;
                added.push_back(file.id);
            }
            return added;
        });
        Json::Value answer;
        answer["files"] = Json::Value(Json::arrayValue);
        for (const std::string& id : ids) {
            Json::Value entry;
            entry["file"]["id"] = id;
            entry["uploadDetails"]["put"] = putDetails(RestRoutes::fileKey(bucketId, id), request.secure(), id);
            answer["files"].append(entry);
        }
        return answer;
    }

private:
    Json::Value initialize(ServiceRequest& request, const FileCall& call)
    {
        requireUploader(call.body);
        const uint64_t size = requireUInt64(call.body, "size");
        optionalString(call.body, "md5Digest");
        if (!call.body["uploadId"].isNull())
            fail(400, "\"uploadId\" must be null when initializing");
        const Json::Value& list = call.body["parts"];
        if (!list.isArray() || list.empty())
            fail(400, "\"parts\" must be a non-empty array");
        MultipartSession session;
        session.bucketId = call.bucketId;
        session.fileId = call.fileId;
        uint64_t total = 0;
        for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
            if (!list[i].isObject())
                fail(400, "a part is not an object");
            MultipartPart part;
            part.number = static_cast<uint32_t>(requireUInt64(list[i], "number"));
            part.size = requireUInt64(list[i], "size");
            part.md5 = optionalString(list[i], "md5Digest");
            if (part.number != i + 1)
                fail(400, "parts must be numbered 1..N in order");
            total += part.size;
            session.parts.push_back(part);
        }
        if (total != size)
            fail(400, "the parts do not add up to the size");
        session.partSize = session.parts.front().size;
        m_model.withState([&](ServiceState& state) {
            const ServiceBucket& bucket = requireBucket(state, call.bucketId, call.token);
            ServiceFile& file = requireFile(state, call.bucketId, call.fileId);
            if (!acceptsUploads(bucket, file))
                fail(409, "the file no longer takes uploads");
            session.uploadId = state.newId("upload-");
            for (MultipartPart& part : session.parts)
                part.objectKey = RestRoutes::partKey(session.uploadId, part.number);
            file.size = size;
            file.objectKey = RestRoutes::fileKey(call.bucketId, call.fileId);
            state.multipartSessions[session.uploadId] = session;
        });
        Json::Value answer;
        answer["file"] = fileObject(call.fileId, call.bucketId);
        answer["uploadId"] = session.uploadId;
        answer["partUploadDetails"] = Json::Value(Json::arrayValue);
        for (const MultipartPart& part : session.parts) {
            Json::Value entry =
                storageTarget(part.objectKey, request.secure(), {{"x-fv-part-number", std::to_string(part.number)}});
            entry["number"] = part.number;
            answer["partUploadDetails"].append(entry);
        }
        return answer;
    }

    // The call's upload, open or completed; 404 for an unknown one or one of another file.
    static std::map<std::string, MultipartSession>::iterator requireSession(ServiceState& state, const FileCall& call)
    {
        const std::string uploadId = requireString(call.body, "uploadId");
        requireBucket(state, call.bucketId, call.token);
        requireFile(state, call.bucketId, call.fileId);
        const auto found = state.multipartSessions.find(uploadId);
        if (found == state.multipartSessions.end() || found->second.fileId != call.fileId)
            fail(404, "no multipart upload " + uploadId);
        return found;
    }

    Json::Value complete(const FileCall& call)
    {
        const uint64_t numberOfParts = requireUInt64(call.body, "numberOfParts");
        const MultipartSession session = m_model.withState([&](ServiceState& state) {
            const MultipartSession& found = requireSession(state, call)->second;
            if (found.completed && m_settings->repeatedCompleteNotFound.load())
                fail(404, "the multipart upload " + found.uploadId + " is no longer open");
            return found;
        });
        if (numberOfParts != session.parts.size())
            fail(400, "\"numberOfParts\" differs from the parts of the upload");
        if (session.completed)
            return completedAnswer(call);
        std::vector<std::shared_ptr<const StoredObject>> stored;
        for (const MultipartPart& part : session.parts) {
            std::shared_ptr<const StoredObject> object = m_model.objects().find(part.objectKey);
            if (!object || object->size() != part.size)
                fail(400, "part " + std::to_string(part.number) + " is missing or of the wrong size");
            stored.push_back(std::move(object));
        }
        const std::string key = RestRoutes::fileKey(call.bucketId, call.fileId);
        std::unique_ptr<ObjectWriter> writer = m_model.objects().create(key);
        std::vector<char> buffer(64 * 1024);
        for (const auto& object : stored) {
            for (uint64_t offset = 0; offset < object->size();) {
                const size_t got = object->read(offset, buffer.data(), buffer.size());
                if (got == 0)
                    break;
                writer->write(buffer.data(), got);
                offset += got;
            }
        }
        writer->commit();
        m_model.withState([&](ServiceState& state) {
            state.multipartSessions[session.uploadId].completed = true;
            state.files[call.fileId].status = "COMPLETED";
        });
        return completedAnswer(call);
    }

    // The first complete's answer and every repeated one's.
    static Json::Value completedAnswer(const FileCall& call)
    {
        Json::Value answer;
        answer["file"] = fileObject(call.fileId, call.bucketId);
        return answer;
    }

    Json::Value abort(const FileCall& call)
    {
        const MultipartSession session = m_model.withState([&](ServiceState& state) {
            const auto found = requireSession(state, call);
            if (found->second.completed)
                fail(404, "the multipart upload " + found->first + " is no longer open");
            MultipartSession erased = std::move(found->second);
            state.multipartSessions.erase(found);
            state.abortedUploads.insert(erased.uploadId);
            return erased;
        });
        for (const MultipartPart& part : session.parts)
            m_model.objects().remove(part.objectKey);
        Json::Value answer;
        answer["file"] = fileObject(call.fileId, call.bucketId);
        return answer;
    }

    TestService& m_service;
    ServiceModel& m_model;
    std::shared_ptr<RestAccounts> m_accounts;
    const std::shared_ptr<const RestSettings> m_settings;
};

} // namespace

void RestAccounts::addUser(const std::string& userId, const std::string& password)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_passwords[userId] = password;
}

std::string RestAccounts::login(const std::string& userId, const std::string& password)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_passwords.find(userId);
    if (found == m_passwords.end() || found->second != password)
        return std::string();
    const std::string token = "login-token-" + std::to_string(m_next++);
    m_tokens[token] = userId;
    return token;
}

bool RestAccounts::isLoginToken(const std::string& token) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_tokens.count(token) > 0;
}

RestRoutes::RestRoutes(TestService& service)
    : m_service(service), m_accounts(std::make_shared<RestAccounts>()), m_settings(std::make_shared<RestSettings>())
{
    m_settings->urlValiditySeconds.store(kUrlValiditySeconds);
    auto handlers = std::make_shared<Handlers>(service, m_accounts, m_settings);
    auto route = [&](const char* method, const char* pattern, Json::Value (Handlers::*member)(ServiceRequest&)) {
        service.routes().add(method, pattern, jsonRoute([handlers, member](ServiceRequest& request) {
                                 return ((*handlers).*member)(request);
                             }));
    };
    const std::string file = "/api/v2/bucket/{bucketId}/file/{fileId}";
    route("GET", "/api/v2/bucket/{bucketId}", &Handlers::bucketStatus);
    route("GET", (file + "/download").c_str(), &Handlers::downloadDetails);
    service.routes().add("GET", file + "/manifest",
                         textRoute([handlers](ServiceRequest& request) { return handlers->manifest(request); }));
    route("POST", (file + "/upload").c_str(), &Handlers::uploadDetails);
    route("POST", (file + "/status").c_str(), &Handlers::fileStatus);
    route("POST", (file + "/upload/multipart/{action}").c_str(), &Handlers::multipart);
    route("POST", "/login", &Handlers::login);
    route("POST", "/api/v2/bucket/message", &Handlers::createBucket);
    route("POST", "/api/v2/bucket/{bucketId}/files", &Handlers::addFiles);
}

ServiceBucket RestRoutes::addBucket(const std::string& id, const std::string& token, const std::string& status,
                                    bool uploadAllowed, int64_t createdSeconds)
{
    ServiceBucket bucket;
    bucket.id = id;
    bucket.token = token;
    bucket.status = status;
    bucket.uploadAllowed = uploadAllowed;
    bucket.created = createdSeconds;
    m_service.model().withState([&](ServiceState& state) { state.buckets[id] = bucket; });
    return bucket;
}

ServiceFile RestRoutes::addFile(const std::string& bucketId, const std::string& fileId, uint64_t size,
                                const std::string& status)
{
    ServiceFile file;
    file.id = fileId;
    file.bucketId = bucketId;
    file.name = fileId;
    file.size = size;
    file.status = status;
    m_service.model().withState([&](ServiceState& state) { state.files[fileId] = file; });
    return file;
}

ServiceBucket RestRoutes::bucket(const std::string& id) const
{
    return m_service.model().withState([&](ServiceState& state) {
        const auto found = state.buckets.find(id);
        return found == state.buckets.end() ? ServiceBucket() : found->second;
    });
}

ServiceFile RestRoutes::file(const std::string& id) const
{
    return m_service.model().withState([&](ServiceState& state) {
        const auto found = state.files.find(id);
        return found == state.files.end() ? ServiceFile() : found->second;
    });
}

std::map<std::string, MultipartSession> RestRoutes::multipartSessions() const
{
    return m_service.model().withState([&](ServiceState& state) { return state.multipartSessions; });
}

std::set<std::string> RestRoutes::abortedUploads() const
{
    return m_service.model().withState([&](ServiceState& state) { return state.abortedUploads; });
}

std::string RestRoutes::fileKey(const std::string& bucketId, const std::string& fileId)
{
    return "files/" + bucketId + "/" + fileId;
}

std::string RestRoutes::manifestPath(const std::string& bucketId, const std::string& fileId)
{
    return "/api/v2/bucket/" + bucketId + "/file/" + fileId + "/manifest";
}

std::vector<uint64_t> RestRoutes::evenParts(uint64_t size, uint64_t partSize)
{
    if (partSize == 0)
        throw std::invalid_argument("parts of 0 bytes");
    std::vector<uint64_t> sizes;
    for (uint64_t offset = 0; offset < size; offset += partSize)
        sizes.push_back(std::min(partSize, size - offset));
    if (sizes.empty())
        sizes.push_back(0);
    return sizes;
}

std::string RestRoutes::multipartDigest(const std::vector<std::string>& partMd5s)
{
    Poco::MD5Engine md5;
    for (const std::string& hex : partMd5s) {
        const Poco::DigestEngine::Digest binary = Poco::DigestEngine::digestFromHex(hex);
        md5.update(binary.data(), binary.size());
    }
    return Poco::DigestEngine::digestToHex(md5.digest()) + "-" + std::to_string(partMd5s.size());
}

ServiceFile RestRoutes::addMultipartFile(const std::string& bucketId, const std::string& fileId,
                                         const std::string& content, const MultipartLayout& layout)
{
    listedOrder(layout, content.size());
    PartDigests digests(layout.partSizes);
    digests.update(content.data(), content.size());
    const std::vector<std::string> md5s = digests.finish();
    m_service.model().objects().put(fileKey(bucketId, fileId), content);
    return addStoredMultipartFile(bucketId, fileId, content.size(), layout, md5s);
}

ServiceFile RestRoutes::addStoredMultipartFile(const std::string& bucketId, const std::string& fileId, uint64_t size,
                                               const MultipartLayout& layout, const std::vector<std::string>& partMd5s)
{
    const std::vector<uint32_t> order = listedOrder(layout, size);
    if (partMd5s.size() != layout.partSizes.size())
        throw std::invalid_argument("one MD5 a part is needed");

    ServiceFile file = addFile(bucketId, fileId, size, "COMPLETED");
    file.objectKey = fileKey(bucketId, fileId);
    file.md5Digest = multipartDigest(partMd5s);
    if (layout.withManifest) {
        Json::Value manifest(Json::objectValue);
        manifest["parts"] = Json::Value(Json::arrayValue);
        for (const uint32_t number : order) {
            Json::Value part(Json::objectValue);
            part["number"] = number;
            part["size"] = Json::UInt64(layout.partSizes[number - 1]);
            part["eTag"] = partMd5s[number - 1];
            manifest["parts"].append(part);
        }
        manifest["eTag"] = file.md5Digest;
        file.manifest = writeJson(manifest);
    }
    m_service.model().withState([&](ServiceState& state) { state.files[fileId] = file; });
    return file;
}

std::string RestRoutes::partKey(const std::string& uploadId, uint32_t number)
{
    return "parts/" + uploadId + "/" + std::to_string(number);
}

} // namespace fv_test
