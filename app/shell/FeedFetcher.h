#pragma once

#include <chrono>
#include <cstddef>
#include <stdexcept>
#include <string>

namespace ferrovan {

class FeedFetchFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Fetches the update feed. Only https:// addresses, verified against the system's CAs plus the
// extra CA file; no redirects are followed and the body is capped, so a feed can come only
// from the configured host and can never fill the memory.
class FeedFetcher {
public:
    struct Limits {
        // Bounds connecting and sending, and the whole fetch from its start to the last byte of
        // the answer, however slowly the host sends it.
        std::chrono::milliseconds timeout{30000};
        std::size_t maxBodyBytes = 1024 * 1024;
    };

    // `caFile` may be empty: the system's CAs only.
    FeedFetcher(std::string caFile, Limits limits);

    // The body of a 200 answer; throws FeedFetchFailed otherwise.
    std::string fetch(const std::string& url) const;

private:
    std::string m_caFile;
    Limits m_limits;
};

} // namespace ferrovan
