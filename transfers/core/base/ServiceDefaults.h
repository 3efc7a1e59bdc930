#pragma once

namespace fv_transfers {

// The service's public web root; the deployment (the main program) sets the real endpoint.
inline constexpr const char* kDefaultRestEndpointUrl = "https://ferrovan.example";

} // namespace fv_transfers
