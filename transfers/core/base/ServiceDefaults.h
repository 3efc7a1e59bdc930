#pragma once

namespace fv_transfers {

// The service's public web root; the deployment (the main program) sets the real endpoint.
inline constexpr const char* kDefaultRestEndpointUrl = "https://ferrovan.example";

// Time-outs of a connection unless its owner sets others. Send and receive are idle
// time-outs: they run from the last byte moved in that direction.
inline constexpr int kDefaultConnectTimeoutMs = 30000;
inline constexpr int kDefaultSendTimeoutMs = 60000;
inline constexpr int kDefaultReceiveTimeoutMs = 60000;
// REST answers are small and prepared by the service itself, so a REST exchange waits less.
inline constexpr int kDefaultRestIdleTimeoutMs = 30000;

} // namespace fv_transfers
