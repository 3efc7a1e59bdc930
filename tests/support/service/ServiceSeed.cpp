#include "support/service/ServiceSeed.h"

#include "support/fixtures/TestBytes.h"
#include "support/service/ByteCount.h"
#include "support/service/PartDigests.h"
#include "support/service/RestRoutes.h"
#include "support/service/TestService.h"

#include <Poco/Exception.h>
#include <Poco/File.h>

#include <json/json.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

namespace fv_test {

namespace {

constexpr size_t kBlockBytes = 1024 * 1024;

// One object of the seed, named by where it stands, so every message points at the entry.
class SeedObject {
public:
    SeedObject(const Json::Value& value, std::string where, const std::set<std::string>& known)
        : m_value(value), m_where(std::move(where))
    {
        if (!m_value.isObject())
            fail("must be a JSON object");
        for (const std::string& name : m_value.getMemberNames()) {
            if (!known.count(name))
                fail("unknown member \"" + name + "\"");
        }
    }

    [[noreturn]] void fail(const std::string& what) const { throw SeedError(m_where + ": " + what); }

    bool has(const char* name) const { return m_value.isMember(name); }

    std::string text(const char* name) const
    {
        const Json::Value& value = member(name);
        if (!value.isString() || value.asString().empty())
            fail(quoted(name) + " must be a non-empty string");
        return value.asString();
    }
    std::string text(const char* name, const std::string& fallback) const { return has(name) ? text(name) : fallback; }

    bool flag(const char* name, bool fallback) const
    {
        if (!has(name))
            return fallback;
        if (!m_value[name].isBool())
            fail(quoted(name) + " must be true or false");
        return m_value[name].asBool();
    }

    int64_t integer(const char* name, int64_t fallback) const
    {
        if (!has(name))
            return fallback;
        if (!m_value[name].isInt64())
            fail(quoted(name) + " must be a whole number");
        return m_value[name].asInt64();
    }

    unsigned seed(const char* name) const
    {
        const Json::Value& value = member(name);
        if (!value.isUInt())
            fail(quoted(name) + " must be an unsigned number");
        return value.asUInt();
    }

    // A number of bytes, or a string such as "64M".
    uint64_t byteCount(const char* name) const
    {
        const Json::Value& value = member(name);
        if (value.isUInt64())
            return value.asUInt64();
        const std::optional<uint64_t> parsed = value.isString() ? parseByteCount(value.asString()) : std::nullopt;
        if (!parsed)
            fail(quoted(name) + " must be a byte count (a number, or a string such as \"64M\")");
        return *parsed;
    }

private:
    static std::string quoted(const char* name) { return std::string("\"") + name + "\""; }

    const Json::Value& member(const char* name) const
    {
        if (!has(name))
            fail("missing " + quoted(name));
        return m_value[name];
    }

    const Json::Value& m_value;
    const std::string m_where;
};

const std::map<std::string, SeedFile::Digest> kDigests = {{"plain", SeedFile::Digest::Plain},
                                                          {"parts", SeedFile::Digest::Parts},
                                                          {"manifest", SeedFile::Digest::Manifest},
                                                          {"none", SeedFile::Digest::None}};

ServiceBucket readBucket(const SeedObject& entry)
{
    ServiceBucket bucket;
    bucket.id = entry.text("id");
    bucket.token = entry.text("token");
    bucket.status = entry.text("status", "EDITING");
    bucket.uploadAllowed = entry.flag("uploadAllowed", true);
    bucket.created = entry.integer("created", 1700000000);
    return bucket;
}

// The size of a readable regular file; the seed fails on anything else.
uint64_t sourceSize(const SeedObject& entry, const std::string& path)
{
    try {
        const Poco::File file(path);
        if (file.exists() && file.isFile() && file.canRead() && std::ifstream(path, std::ios::binary))
            return file.getSize();
    } catch (const Poco::Exception&) {
    }
    entry.fail("cannot read the source file " + path);
}

SeedFile readFile(const SeedObject& entry)
{
    SeedFile file;
    file.bucket = entry.text("bucket");
    file.id = entry.text("id");
    if (entry.has("source")) {
        if (entry.has("size") || entry.has("seed"))
            entry.fail("give either \"source\" or \"size\" and \"seed\"");
        file.source = entry.text("source");
        file.size = sourceSize(entry, file.source);
    } else {
        file.size = entry.byteCount("size");
        file.seed = entry.seed("seed");
    }
    const std::string digest = entry.text("digest", "plain");
    const auto known = kDigests.find(digest);
    if (known == kDigests.end())
        entry.fail("\"digest\" must be plain, parts, manifest or none, not \"" + digest + "\"");
    file.digest = known->second;
    const bool inParts = file.digest == SeedFile::Digest::Parts || file.digest == SeedFile::Digest::Manifest;
    if (inParts) {
        file.partSize = entry.byteCount("partSize");
        if (file.partSize == 0)
            entry.fail("\"partSize\" must not be 0");
    } else if (entry.has("partSize")) {
        entry.fail("\"partSize\" goes with the digests parts and manifest only");
    }
    return file;
}

// Each array member of the root, checked to be an array.
const Json::Value& rootArray(const Json::Value& root, const char* name, const std::string& origin)
{
    static const Json::Value kEmpty(Json::arrayValue);
    if (!root.isMember(name))
        return kEmpty;
    if (!root[name].isArray())
        throw SeedError(origin + ": \"" + name + "\" must be an array");
    return root[name];
}

// The bytes of one seeded file, block by block.
class SeedContent {
public:
    explicit SeedContent(const SeedFile& file) : m_path(file.source), m_pattern(file.seed)
    {
        if (!m_path.empty()) {
            m_in.open(m_path, std::ios::binary);
            if (!m_in)
                throw SeedError("cannot read the source file " + m_path);
        }
    }

    void read(char* data, size_t size)
    {
        if (m_path.empty()) {
            m_pattern.fill(data, size);
            return;
        }
        m_in.read(data, static_cast<std::streamsize>(size));
        if (static_cast<size_t>(m_in.gcount()) != size)
            throw SeedError("the source file " + m_path + " ended early or could not be read");
    }

private:
    const std::string m_path;
    std::ifstream m_in;
    PatternedByteStream m_pattern;
};

// Streams the content into the store under `key`: the whole file's MD5, and each part's when
// `parts` is given.
std::string storeContent(ObjectStore& store, const std::string& key, const SeedFile& file, PartDigests* parts)
{
    SeedContent content(file);
    std::unique_ptr<ObjectWriter> writer = store.create(key);
    std::vector<char> block(static_cast<size_t>(std::min<uint64_t>(kBlockBytes, std::max<uint64_t>(file.size, 1))));
    for (uint64_t done = 0; done < file.size;) {
        const size_t count = static_cast<size_t>(std::min<uint64_t>(block.size(), file.size - done));
        content.read(block.data(), count);
        writer->write(block.data(), count);
        if (parts)
            parts->update(block.data(), count);
        done += count;
    }
    return writer->commit();
}

// Stores one file and adds its record; the digest as the download details give it.
std::string seedFile(TestService& service, RestRoutes& rest, const SeedFile& file)
{
    const std::string key = RestRoutes::fileKey(file.bucket, file.id);
    if (file.digest == SeedFile::Digest::Plain || file.digest == SeedFile::Digest::None) {
        const std::string md5 = storeContent(service.model().objects(), key, file, nullptr);
        ServiceFile record = rest.addFile(file.bucket, file.id, file.size, "COMPLETED");
        if (file.digest == SeedFile::Digest::Plain)
            return md5;
        record.withoutDigest = true;
        service.model().withState([&](ServiceState& state) { state.files[file.id] = record; });
        return std::string();
    }
    MultipartLayout layout;
    layout.partSizes = RestRoutes::evenParts(file.size, file.partSize);
    layout.withManifest = file.digest == SeedFile::Digest::Manifest;
    PartDigests parts(layout.partSizes);
    storeContent(service.model().objects(), key, file, &parts);
    return rest.addStoredMultipartFile(file.bucket, file.id, file.size, layout, parts.finish()).md5Digest;
}

} // namespace

ServiceSeed ServiceSeed::fromFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf()))
        throw SeedError("cannot read the seed file " + path);
    return fromText(text.str(), path);
}

ServiceSeed ServiceSeed::fromText(const std::string& text, const std::string& origin)
{
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors))
        throw SeedError(origin + ": not valid JSON: " + errors);
    const SeedObject top(root, origin, {"buckets", "files"});

    ServiceSeed seed;
    std::set<std::string> bucketIds;
    const Json::Value& buckets = rootArray(root, "buckets", origin);
    for (Json::ArrayIndex i = 0; i < buckets.size(); ++i) {
        const SeedObject entry(buckets[i], origin + ": buckets[" + std::to_string(i) + "]",
                               {"id", "token", "status", "uploadAllowed", "created"});
        seed.m_buckets.push_back(readBucket(entry));
        if (!bucketIds.insert(seed.m_buckets.back().id).second)
            entry.fail("the bucket id is used twice");
    }
    std::set<std::string> fileIds;
    const Json::Value& files = rootArray(root, "files", origin);
    for (Json::ArrayIndex i = 0; i < files.size(); ++i) {
        const SeedObject entry(files[i], origin + ": files[" + std::to_string(i) + "]",
                               {"bucket", "id", "source", "size", "seed", "digest", "partSize"});
        seed.m_files.push_back(readFile(entry));
        if (!bucketIds.count(seed.m_files.back().bucket))
            entry.fail("no bucket \"" + seed.m_files.back().bucket + "\" in the seed");
        // The service keeps files by id alone.
        if (!fileIds.insert(seed.m_files.back().id).second)
            entry.fail("the file id is used twice");
    }
    return seed;
}

void ServiceSeed::apply(TestService& service, RestRoutes& rest, std::ostream& out) const
{
    for (const ServiceBucket& bucket : m_buckets)
        rest.addBucket(bucket.id, bucket.token, bucket.status, bucket.uploadAllowed, bucket.created);
    for (const SeedFile& file : m_files) {
        const std::string digest = seedFile(service, rest, file);
        out << "seeded " << file.bucket << "/" << file.id << " size=" << file.size << " digest=" << digest << std::endl;
    }
}

} // namespace fv_test
