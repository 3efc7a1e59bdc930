#pragma once

namespace fv_transfers {

class CCurlConnection;

// libcurl's process-wide set-up; sets `initialised` and returns it. Safe to call again.
bool initializeCurlGlobal(bool& initialised);

// Disconnects the connection when the scope ends (channel run loops).
class disconnectOnExit {
public:
    explicit disconnectOnExit(CCurlConnection* connection) : m_connection(connection) {}
    ~disconnectOnExit();
    disconnectOnExit(const disconnectOnExit&) = delete;
    disconnectOnExit& operator=(const disconnectOnExit&) = delete;

private:
    CCurlConnection* m_connection;
};

} // namespace fv_transfers
