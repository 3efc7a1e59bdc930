#pragma once

#include "linux/NautilusExtension.h"

namespace ferrovan::ostrel {

// The NautilusMenuProvider the file manager asks for a selection's items. Its GType lives in the
// module the file manager loaded, so it is registered through that module, once per process.
class COstrelMenuProviderLinux {
public:
    static void registerType(GTypeModule* module);
    static GType type();
};

} // namespace ferrovan::ostrel
