#pragma once

#include <Poco/AutoPtr.h>
#include <Poco/FileChannel.h>
#include <Poco/Message.h>

#include <atomic>
#include <string>

namespace ferrovan {

// A rotating file channel whose files only their owner can read: the log goes to the help desk
// on request, never to other local users. Poco's channel creates its files with the process
// umask and offers no hook for the mode, so the file is made 0600 before the channel opens it,
// and the fresh file a rotation leaves is tightened right after the line that rotated it.
// "purgeCount" keeps the rotated files by number (".0" the newest) rather than by Poco's
// one-second modification times, which let a burst of rotations delete the newest one.
// Without a path it writes nothing and creates no file. A removed log file is made anew at the
// next line; while its folder is gone the lines are dropped.
// A failed line spoils the channel: Poco frees its file when a rotation fails yet keeps the
// pointer, so closing or destroying the channel would free it again. A spoiled channel writes
// nothing, never closes and holds a reference to itself so it is never freed; its owner replaces
// it with a new one (replacement()).
class PrivateFileChannel : public Poco::FileChannel {
public:
    PrivateFileChannel() = default;

    void log(const Poco::Message& msg) override;
    void close() override;
    bool isSpoiled() const { return m_spoiled; }
    // A new closed channel with this one's properties.
    Poco::AutoPtr<PrivateFileChannel> replacement() const;
    void setProperty(const std::string& name, const std::string& value) override;
    std::string getProperty(const std::string& name) const override;

protected:
    ~PrivateFileChannel() override = default;

private:
    void makePrivate() const;
    void purgeRotated() const;

    int m_purgeCount = -1; // -1: keep every rotated file
    std::atomic<bool> m_spoiled{false};
};

} // namespace ferrovan
