#pragma once

namespace ferrovan {

class AppEnvironment;

// Hands the transfer library its REST endpoint, user agent and files folder; done right after
// the environment exists, before the library starts. Nothing happens without the library's
// configuration instance.
void configureTransfers(const AppEnvironment& environment);

} // namespace ferrovan
