#pragma once

#include "support/net/LoopbackListener.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace fv_test {

// An HTTP proxy on 127.0.0.1 that only tunnels: it accepts "CONNECT host:port", records the
// request and its Proxy-Authorization, and relays to 127.0.0.1:port (never further). Any
// other request is recorded and answered 400.
class ConnectProxy {
public:
    struct Request {
        std::string requestLine;
        std::string proxyAuthorization; // empty when absent
    };

    ConnectProxy();
    ~ConnectProxy();
    ConnectProxy(const ConnectProxy&) = delete;
    ConnectProxy& operator=(const ConnectProxy&) = delete;

    std::uint16_t port() const { return m_listener->port(); }
    std::vector<Request> requests() const;
    void stop();

private:
    void serve(int fd, int index);
    void relay(int client, int upstream);

    mutable std::mutex m_mutex;
    std::vector<Request> m_requests;
    std::unique_ptr<LoopbackListener> m_listener;
};

} // namespace fv_test
