#include "NautilusModuleLoader.h"

#include "TestTypes.h"

#include <gmodule.h>

#include <map>
#include <memory>
#include <stdexcept>

namespace fv_test {

namespace {

struct ExtensionModule {
    GTypeModule parent;
    char* path;
    GModule* library;
    void (*initialize)(GTypeModule*);
    void (*listTypes)(const GType**, int*);
    void (*shutdown)();
    char* error;
};

struct ExtensionModuleClass {
    GTypeModuleClass parent;
};

template <typename Function> bool lookUp(GModule* library, const char* name, Function& function)
{
    gpointer symbol = nullptr;
    if (!g_module_symbol(library, name, &symbol))
        return false;
    function = reinterpret_cast<Function>(symbol);
    return true;
}

gboolean loadModule(GTypeModule* typeModule)
{
    auto* module = reinterpret_cast<ExtensionModule*>(typeModule);
    module->library = g_module_open(module->path, GModuleFlags(G_MODULE_BIND_LAZY | G_MODULE_BIND_LOCAL));
    if (!module->library) {
        module->error = g_strdup(g_module_error());
        return FALSE;
    }
    if (!lookUp(module->library, "nautilus_module_initialize", module->initialize) ||
        !lookUp(module->library, "nautilus_module_shutdown", module->shutdown) ||
        !lookUp(module->library, "nautilus_module_list_types", module->listTypes)) {
        module->error = g_strdup(g_module_error());
        g_module_close(module->library);
        module->library = nullptr;
        return FALSE;
    }
    module->initialize(typeModule);
    return TRUE;
}

void unloadModule(GTypeModule* typeModule)
{
    auto* module = reinterpret_cast<ExtensionModule*>(typeModule);
    module->shutdown();
    g_module_close(module->library);
    module->library = nullptr;
}

void initModuleClass(gpointer klass, gpointer)
{
    G_TYPE_MODULE_CLASS(klass)->load = loadModule;
    G_TYPE_MODULE_CLASS(klass)->unload = unloadModule;
}

GType extensionModuleType()
{
    static const GType type = registerTestType(G_TYPE_TYPE_MODULE, "FvTestExtensionModule",
                                               sizeof(ExtensionModuleClass), initModuleClass, sizeof(ExtensionModule));
    return type;
}

} // namespace

NautilusModuleLoader::NautilusModuleLoader(const std::string& path)
{
    auto* module = static_cast<ExtensionModule*>(g_object_new(extensionModuleType(), nullptr));
    module->path = g_strdup(path.c_str());
    g_type_module_set_name(G_TYPE_MODULE(module), path.c_str());
    if (!g_type_module_use(G_TYPE_MODULE(module)))
        throw std::runtime_error("cannot load " + path + ": " + (module->error ? module->error : "?"));
    const GType* types = nullptr;
    int count = 0;
    module->listTypes(&types, &count);
    for (int i = 0; i < count; ++i)
        m_objects.push_back(G_OBJECT(g_object_new(types[i], nullptr)));
}

const NautilusModuleLoader& NautilusModuleLoader::load(const std::string& path)
{
    // Kept for the process's life, like the module and the types it registered.
    static std::map<std::string, std::unique_ptr<NautilusModuleLoader>> loaded;
    auto& loader = loaded[path];
    if (!loader)
        loader.reset(new NautilusModuleLoader(path));
    return *loader;
}

} // namespace fv_test
