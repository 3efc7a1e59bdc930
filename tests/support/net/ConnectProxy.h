#pragma once

#include "support/net/LoopbackListener.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace fv_test {

// An HTTP proxy on 127.0.0.1 that never reaches further than this machine. It records every
// request and its Proxy-Authorization, and
// - tunnels "CONNECT host:port" to 127.0.0.1:port (host 127.0.0.1 or localhost, else 403);
// - forwards an absolute-form request ("GET http://127.0.0.1:port/path") to 127.0.0.1:port in
//   origin form, without its proxy fields, for that one exchange (another host: 403);
// - answers anything else 400.
// With required credentials, a request without the right "Proxy-Authorization: Basic" gets
// 407 and "Proxy-Authenticate: Basic realm=..." on a connection kept open for the retry.
class ConnectProxy {
public:
    struct Request {
        std::string requestLine;
        std::string proxyAuthorization; // empty when absent
    };

    struct Credentials {
        std::string user;
        std::string password;
        std::string realm = "fv-test-proxy";
    };

    ConnectProxy();
    explicit ConnectProxy(Credentials required);
    ~ConnectProxy();
    ConnectProxy(const ConnectProxy&) = delete;
    ConnectProxy& operator=(const ConnectProxy&) = delete;

    std::uint16_t port() const { return m_listener->port(); }
    std::vector<Request> requests() const;
    // How many 407 answers went out.
    int challengesSent() const;
    // "user:password" of each request let through on its credentials, in order.
    std::vector<std::string> acceptedCredentials() const;
    void stop();

private:
    enum class Verdict { Pass, Challenge };

    void serve(int fd, int index);
    // The next request head, or nothing when the client went away first.
    std::optional<std::string> readHead(int fd) const;
    Verdict checkCredentials(const std::string& head);
    void tunnel(int fd, const std::string& target);
    // `address` is the target without "http://"; `method` and `version` keep their spaces.
    void forward(int fd, const std::string& method, const std::string& address, const std::string& version,
                 const std::string& head);
    // A socket to 127.0.0.1 for "host[:port]", or -1 once the client got the refusal.
    int connectUpstream(int fd, const std::string& hostAndPort, int defaultPort);
    void answer(int fd, const std::string& statusLine, const std::string& fields = "", bool keepOpen = false) const;
    void relay(int client, int upstream);

    const std::optional<Credentials> m_required;
    mutable std::mutex m_mutex;
    std::vector<Request> m_requests;
    int m_challenges = 0;
    std::vector<std::string> m_accepted;
    std::unique_ptr<LoopbackListener> m_listener;
};

} // namespace fv_test
