#pragma once

#include "shell/Logger.h"

#include <Poco/AutoPtr.h>
#include <Poco/Channel.h>
#include <Poco/LogStream.h>
#include <Poco/Logger.h>
#include <Poco/Message.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace fv_test {

struct LoggedLine {
    Poco::Message::Priority priority;
    std::string text;
};

// An ILogger that keeps every line it is given, for tests to read.
class RecordingLogger : public ferrovan::ILogger {
public:
    RecordingLogger()
        : m_channel(new Channel), m_name("fv-test-recording-" + std::to_string(nextId())),
          m_stream(
              std::make_unique<Poco::LogStream>(Poco::Logger::create(m_name, m_channel, Poco::Message::PRIO_TRACE)))
    {
    }
    ~RecordingLogger() override
    {
        m_stream.reset();
        Poco::Logger::destroy(m_name);
    }
    RecordingLogger(const RecordingLogger&) = delete;
    RecordingLogger& operator=(const RecordingLogger&) = delete;

    Poco::LogStream& getStream() override { return *m_stream; }
    void lock() override { m_lock.lock(); }
    void unlock() override { m_lock.unlock(); }

    std::vector<LoggedLine> lines() const { return m_channel->lines(); }
    // How many lines of `priority` contain `piece`.
    int count(Poco::Message::Priority priority, const std::string& piece) const
    {
        return countIf(priority, [&](const std::string& text) { return text.find(piece) != std::string::npos; });
    }
    // How many lines of `priority` end with `end`.
    int countEndingWith(Poco::Message::Priority priority, const std::string& end) const
    {
        return countIf(priority, [&](const std::string& text) {
            return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
        });
    }

private:
    class Channel : public Poco::Channel {
    public:
        void log(const Poco::Message& message) override
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_lines.push_back({message.getPriority(), message.getText()});
        }
        std::vector<LoggedLine> lines() const
        {
            std::lock_guard<std::mutex> guard(m_lock);
            return m_lines;
        }

    private:
        mutable std::mutex m_lock;
        std::vector<LoggedLine> m_lines;
    };

    template <typename Predicate> int countIf(Poco::Message::Priority priority, Predicate matches) const
    {
        const auto all = lines();
        return static_cast<int>(std::count_if(all.begin(), all.end(), [&](const LoggedLine& line) {
            return line.priority == priority && matches(line.text);
        }));
    }

    static int nextId()
    {
        static std::atomic<int> id{0};
        return ++id;
    }

    Poco::AutoPtr<Channel> m_channel;
    std::string m_name;
    std::recursive_mutex m_lock;
    std::unique_ptr<Poco::LogStream> m_stream;
};

} // namespace fv_test
