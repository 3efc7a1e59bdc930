#pragma once

namespace fv_transfers {

// libproxy reads its configuration order from the environment when its factory is made.
// setenv is not thread-safe, so this runs once, from initialize, before threads start.
void preparePxConfigOrder();

} // namespace fv_transfers
