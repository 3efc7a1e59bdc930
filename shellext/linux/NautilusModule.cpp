// The three entry points the file manager looks up after loading the module; nothing else is
// exported (see the version script beside this file).
#include "linux/OstrelMenuProviderLinux.h"

using ferrovan::ostrel::COstrelMenuProviderLinux;

extern "C" {

__attribute__((visibility("default"))) void nautilus_module_initialize(GTypeModule* module)
{
    COstrelMenuProviderLinux::registerType(module);
}

__attribute__((visibility("default"))) void nautilus_module_shutdown(void) {}

__attribute__((visibility("default"))) void nautilus_module_list_types(const GType** types, int* num_types)
{
    static GType provided[1];
    provided[0] = COstrelMenuProviderLinux::type();
    *types = provided;
    *num_types = 1;
}
}
