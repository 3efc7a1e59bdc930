#pragma once

#include "support/net/LoopbackListener.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace fv_test {

// What a ScriptedServer does on one connection, step by step. A script that ends without
// close() closes gracefully: it half-closes, then reads until the peer closes.
class Script {
public:
    struct Step {
        enum class Kind { ReadHead, ReadBytes, ReadBody, Write, Sleep, Gate, HalfClose, Close, Reset, Stall };
        Kind kind;
        std::string data;
        std::size_t count = 0;
        int ms = 0;
    };

    // Reads until the end of a request head ("\r\n\r\n").
    Script& readHead();
    Script& readBytes(std::size_t count);
    // Reads as many bytes as the last head's Content-Length gives.
    Script& readBody();
    Script& write(const std::string& bytes);
    // Writes the bytes in pieces cut at the given offsets, pausing between them so that the
    // peer sees separate reads.
    Script& writeSplit(const std::string& bytes, const std::vector<std::size_t>& cuts, int pauseMs = 40);
    Script& sleep(int ms);
    // Waits until the test opens the named gate (or the server stops): the test acts while
    // the server is known to stand here, then lets it go on.
    Script& gate(const std::string& name);
    Script& halfClose();
    Script& close();
    // Closes at once, reading nothing more, so the peer's further sends fail with a reset.
    Script& reset();
    // Never answers; holds the connection until the server stops.
    Script& stall();

    const std::vector<Step>& steps() const { return m_steps; }

private:
    std::vector<Step> m_steps;
};

// A raw TCP (optionally TLS) server on 127.0.0.1 that plays one script per connection and
// records every byte it reads. Connection i plays scripts[i], or the last script when there
// are fewer scripts than connections.
class ScriptedServer {
public:
    struct Options {
        bool tls = false;
        std::string certFile; // PEM; the test CA's server certificate when empty
        std::string keyFile;
        int receiveBufferBytes = 0; // > 0: a tiny window, to stall the client's sends
    };

    explicit ScriptedServer(std::vector<Script> scripts);
    ScriptedServer(std::vector<Script> scripts, Options options);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::uint16_t port() const { return m_listener->port(); }
    // "http(s)://127.0.0.1:<port>" + path.
    std::string url(const std::string& path = "/") const;
    int connectionCount() const { return m_listener->connectionCount(); }
    // The bytes read on connection i so far.
    std::string received(int connection) const;
    // The first request head read on connection i, terminator included.
    std::string head(int connection) const;
    // True once a connection stands at the named gate (or went through it); false when none
    // got there within the time-out.
    bool waitAtGate(const std::string& name, int timeoutMs) const;
    // Lets the connections at the named gate, and any that reach it later, go on.
    void openGate(const std::string& name);
    // Also opens every gate, so no connection waits on a test that has given up.
    void stop();

private:
    struct TlsContext;
    void serve(int fd, int index);
    void record(int index, const char* data, std::size_t size);
    // False when the server stopped before the gate opened.
    bool passGate(const std::string& name);

    std::vector<Script> m_scripts;
    Options m_options;
    std::unique_ptr<TlsContext> m_tls;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_received;
    std::vector<std::string> m_heads;
    mutable std::condition_variable m_gateChanged;
    std::set<std::string> m_reachedGates;
    std::set<std::string> m_openGates;
    bool m_gatesReleased = false;
    std::unique_ptr<LoopbackListener> m_listener;
};

} // namespace fv_test
