#include "support/service/ObjectStore.h"

#include <Poco/DigestEngine.h>
#include <Poco/File.h>
#include <Poco/MD5Engine.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace fv_test {

namespace {

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    ~UniqueFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

class MemoryObject : public StoredObject {
public:
    MemoryObject(std::string content, std::string md5) : m_content(std::move(content)), m_md5(std::move(md5)) {}
    uint64_t size() const override { return m_content.size(); }
    size_t read(uint64_t offset, char* buffer, size_t max) const override
    {
        if (offset >= m_content.size())
            return 0;
        const size_t count = std::min<uint64_t>(max, m_content.size() - offset);
        std::memcpy(buffer, m_content.data() + offset, count);
        return count;
    }
    std::string md5() const override { return m_md5; }

private:
    const std::string m_content;
    const std::string m_md5;
};

// Holds the file open, so a replaced or removed object stays readable for its readers.
class FileObject : public StoredObject {
public:
    FileObject(int fd, uint64_t size, std::string md5) : m_fd(fd), m_size(size), m_md5(std::move(md5)) {}
    uint64_t size() const override { return m_size; }
    size_t read(uint64_t offset, char* buffer, size_t max) const override
    {
        size_t done = 0;
        while (done < max && offset + done < m_size) {
            const ssize_t got = ::pread(m_fd.get(), buffer + done, max - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += static_cast<size_t>(got);
        }
        return done;
    }
    std::string md5() const override { return m_md5; }

private:
    UniqueFd m_fd;
    const uint64_t m_size;
    const std::string m_md5;
};

std::shared_ptr<const StoredObject> openFile(const std::string& path, std::string md5)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_shared<FileObject>(fd, static_cast<uint64_t>(info.st_size), std::move(md5));
}

} // namespace

class ObjectStore::MemoryWriter : public ObjectWriter {
public:
    MemoryWriter(ObjectStore& store, std::string key) : m_store(store), m_key(std::move(key)) {}
    void write(const char* data, size_t size) override
    {
        m_content.append(data, size);
        m_md5.update(data, size);
    }
    std::string commit() override
    {
        const std::string md5 = Poco::DigestEngine::digestToHex(m_md5.digest());
        m_store.publish(m_key, std::make_shared<MemoryObject>(std::move(m_content), md5));
        return md5;
    }

private:
    ObjectStore& m_store;
    std::string m_key;
    std::string m_content;
    Poco::MD5Engine m_md5;
};

class ObjectStore::FileWriter : public ObjectWriter {
public:
    FileWriter(ObjectStore& store, std::string key, std::string tempPath)
        : m_store(store), m_key(std::move(key)), m_tempPath(std::move(tempPath)),
          m_fd(::open(m_tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644))
    {
        if (m_fd.get() < 0)
            throw std::runtime_error("cannot create " + m_tempPath);
    }
    ~FileWriter() override
    {
        if (!m_committed)
            ::unlink(m_tempPath.c_str());
    }
    void write(const char* data, size_t size) override
    {
        m_md5.update(data, size);
        while (size > 0) {
            const ssize_t put = ::write(m_fd.get(), data, size);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                throw std::runtime_error("cannot write " + m_tempPath);
            data += put;
            size -= static_cast<size_t>(put);
        }
    }
    std::string commit() override
    {
        const std::string md5 = Poco::DigestEngine::digestToHex(m_md5.digest());
        const std::string path = m_store.fileFor(m_key);
        if (::rename(m_tempPath.c_str(), path.c_str()) != 0)
            throw std::runtime_error("cannot store " + path);
        m_committed = true;
        m_store.publish(m_key, openFile(path, md5));
        return md5;
    }

private:
    ObjectStore& m_store;
    std::string m_key;
    std::string m_tempPath;
    UniqueFd m_fd;
    Poco::MD5Engine m_md5;
    bool m_committed = false;
};

ObjectStore::ObjectStore(std::string directory) : m_directory(std::move(directory))
{
    if (onDisk())
        Poco::File(m_directory).createDirectories();
}

ObjectStore::~ObjectStore() = default;

std::unique_ptr<ObjectWriter> ObjectStore::create(const std::string& key)
{
    if (!onDisk())
        return std::make_unique<MemoryWriter>(*this, key);
    uint64_t temp = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        temp = m_nextTemp++;
    }
    return std::make_unique<FileWriter>(
        *this, key, m_directory + "/.incoming-" + std::to_string(::getpid()) + "-" + std::to_string(temp));
}

std::shared_ptr<const StoredObject> ObjectStore::find(const std::string& key) const
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_objects.find(key);
        if (it != m_objects.end())
            return it->second;
    }
    return onDisk() ? openFile(fileFor(key), "") : nullptr;
}

std::string ObjectStore::put(const std::string& key, const std::string& content)
{
    std::unique_ptr<ObjectWriter> writer = create(key);
    writer->write(content.data(), content.size());
    return writer->commit();
}

std::optional<std::string> ObjectStore::contents(const std::string& key) const
{
    const std::shared_ptr<const StoredObject> object = find(key);
    if (!object)
        return std::nullopt;
    std::string content(object->size(), '\0');
    content.resize(object->read(0, content.data(), content.size()));
    return content;
}

bool ObjectStore::remove(const std::string& key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    bool removed = m_objects.erase(key) > 0;
    if (onDisk())
        removed = ::unlink(fileFor(key).c_str()) == 0 || removed;
    return removed;
}

std::vector<std::string> ObjectStore::keys() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> keys;
    for (const auto& entry : m_objects)
        keys.push_back(entry.first);
    return keys;
}

std::string ObjectStore::fileFor(const std::string& key) const
{
    std::string name;
    for (size_t i = 0; i < key.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(key[i]);
        if (std::isalnum(c) || c == '-' || c == '_' || (c == '.' && i > 0)) {
            name += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            name += escaped;
        }
    }
    return m_directory + "/" + name;
}

void ObjectStore::publish(const std::string& key, std::shared_ptr<const StoredObject> object)
{
    if (!object)
        throw std::runtime_error("cannot reopen stored object " + key);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_objects[key] = std::move(object);
}

} // namespace fv_test
