#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace fv_test {

// A stored object, readable while it is replaced or removed (readers keep their version).
class StoredObject {
public:
    virtual ~StoredObject() = default;
    virtual uint64_t size() const = 0;
    // Up to `max` bytes from `offset`; fewer only at the end.
    virtual size_t read(uint64_t offset, char* buffer, size_t max) const = 0;
    // Lowercase MD5 hex of the content; empty for files found in the folder that the store
    // did not write itself (hashing a benchmark file on every GET would dominate the run).
    virtual std::string md5() const = 0;
};

// Receives an object's bytes; nothing is visible before commit().
class ObjectWriter {
public:
    virtual ~ObjectWriter() = default;
    virtual void write(const char* data, size_t size) = 0;
    // Publishes the object and returns its lowercase MD5 hex.
    virtual std::string commit() = 0;
};

// Objects by key: in memory, or as files in a folder for benchmark-sized data. In a folder,
// a key maps to one file name (characters other than letters, digits, '-', '_' and a
// non-leading '.' are %-escaped), so files placed there beforehand are served too.
// Thread-safe.
class ObjectStore {
public:
    explicit ObjectStore(std::string directory = "");
    ~ObjectStore();
    ObjectStore(const ObjectStore&) = delete;
    ObjectStore& operator=(const ObjectStore&) = delete;

    std::unique_ptr<ObjectWriter> create(const std::string& key);
    std::shared_ptr<const StoredObject> find(const std::string& key) const;
    std::string put(const std::string& key, const std::string& content);
    std::optional<std::string> contents(const std::string& key) const;
    bool remove(const std::string& key);
    std::vector<std::string> keys() const;
    bool onDisk() const { return !m_directory.empty(); }

private:
    class MemoryWriter;
    class FileWriter;

    std::string fileFor(const std::string& key) const;
    void publish(const std::string& key, std::shared_ptr<const StoredObject> object);

    const std::string m_directory;
    mutable std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<const StoredObject>> m_objects;
    uint64_t m_nextTemp = 0;
};

} // namespace fv_test
