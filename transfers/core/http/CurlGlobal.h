#pragma once

#include <memory>

namespace fv_transfers {

// libcurl's process-wide state. The first holder starts it (curl_global_init) and the last one
// to let go ends it (curl_global_cleanup), so every start has its one matching end, and a
// library restart within one process starts libcurl afresh. The library's runtime holds it;
// every easy handle lives inside a hold, so libcurl outlives its handles.
class CCurlGlobal {
    struct Passkey {};

public:
    // The running state, started unless it is up; null when curl_global_init failed.
    static std::shared_ptr<CCurlGlobal> acquire();
    // The running state without starting it; null when nobody holds it.
    static std::shared_ptr<CCurlGlobal> current();

    explicit CCurlGlobal(Passkey) {}
    ~CCurlGlobal();
    CCurlGlobal(const CCurlGlobal&) = delete;
    CCurlGlobal& operator=(const CCurlGlobal&) = delete;
};

} // namespace fv_transfers
