#pragma once

#include <Poco/FileChannel.h>
#include <Poco/Message.h>

#include <string>

namespace ferrovan {

// A rotating file channel whose files only their owner can read: the log goes to the help desk
// on request, never to other local users. Poco's channel creates its files with the process
// umask and offers no hook for the mode, so the file is made 0600 before the channel opens it,
// and the fresh file a rotation leaves is tightened right after the line that rotated it.
// "purgeCount" keeps the rotated files by number (".0" the newest) rather than by Poco's
// one-second modification times, which let a burst of rotations delete the newest one.
// Without a path it writes nothing and creates no file. A line that cannot be written is
// dropped and the file reopened for the next one, so a passing failure never silences the log.
class PrivateFileChannel : public Poco::FileChannel {
public:
    PrivateFileChannel() = default;

    void log(const Poco::Message& msg) override;
    void setProperty(const std::string& name, const std::string& value) override;
    std::string getProperty(const std::string& name) const override;

protected:
    ~PrivateFileChannel() override = default;

private:
    void makePrivate() const;
    void purgeRotated() const;

    int m_purgeCount = -1; // -1: keep every rotated file
};

} // namespace ferrovan
