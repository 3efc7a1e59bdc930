#include "FakeFileInfo.h"

#include "TestTypes.h"

namespace fv_test {

namespace {

struct FakeFileInfo {
    GObject parent;
    char* uri;
    gboolean directory;
};

struct FakeFileInfoClass {
    GObjectClass parent;
};

FakeFileInfo* fake(NautilusFileInfo* info)
{
    return reinterpret_cast<FakeFileInfo*>(info);
}

gboolean isGone(NautilusFileInfo*)
{
    return FALSE;
}

char* getUri(NautilusFileInfo* info)
{
    return g_strdup(fake(info)->uri);
}

GFile* getLocation(NautilusFileInfo* info)
{
    return g_file_new_for_uri(fake(info)->uri);
}

gboolean isDirectory(NautilusFileInfo* info)
{
    return fake(info)->directory;
}

char* getUriScheme(NautilusFileInfo* info)
{
    return g_uri_parse_scheme(fake(info)->uri);
}

char* getName(NautilusFileInfo* info)
{
    g_autoptr(GFile) location = getLocation(info);
    return g_file_get_basename(location);
}

char* getMimeType(NautilusFileInfo* info)
{
    return g_strdup(fake(info)->directory ? "inode/directory" : "application/octet-stream");
}

void finalize(GObject* object)
{
    g_free(reinterpret_cast<FakeFileInfo*>(object)->uri);
    G_OBJECT_CLASS(g_type_class_peek_parent(G_OBJECT_GET_CLASS(object)))->finalize(object);
}

void initClass(gpointer klass, gpointer)
{
    G_OBJECT_CLASS(klass)->finalize = finalize;
}

void initFileInfo(gpointer iface, gpointer)
{
    auto* fileInfo = static_cast<NautilusFileInfoInterface*>(iface);
    fileInfo->is_gone = isGone;
    fileInfo->get_uri = getUri;
    fileInfo->get_location = getLocation;
    fileInfo->is_directory = isDirectory;
    fileInfo->get_uri_scheme = getUriScheme;
    fileInfo->get_name = getName;
    fileInfo->get_mime_type = getMimeType;
}

// Registered through a type module rather than statically: adding an interface statically ends
// in a GLib lock that ThreadSanitizer sees released but never taken.
gboolean loadNothing(GTypeModule*)
{
    return TRUE;
}

void unloadNothing(GTypeModule*) {}

void initTypesModuleClass(gpointer klass, gpointer)
{
    G_TYPE_MODULE_CLASS(klass)->load = loadNothing;
    G_TYPE_MODULE_CLASS(klass)->unload = unloadNothing;
}

GType fakeFileInfoType()
{
    static const GType type = [] {
        const GType moduleType = registerTestType(G_TYPE_TYPE_MODULE, "FvTestTypesModule", sizeof(GTypeModuleClass),
                                                  initTypesModuleClass, sizeof(GTypeModule));
        // Used for the process's life, like the types it holds.
        auto* module = G_TYPE_MODULE(g_object_new(moduleType, nullptr));
        g_type_module_use(module);
        GTypeInfo info{};
        info.class_size = sizeof(FakeFileInfoClass);
        info.class_init = initClass;
        info.instance_size = sizeof(FakeFileInfo);
        const GType registered =
            g_type_module_register_type(module, G_TYPE_OBJECT, "FvTestFakeFileInfo", &info, GTypeFlags(0));
        GInterfaceInfo fileInfo{};
        fileInfo.interface_init = initFileInfo;
        g_type_module_add_interface(module, registered, NAUTILUS_TYPE_FILE_INFO, &fileInfo);
        return registered;
    }();
    return type;
}

} // namespace

NautilusFileInfo* newFakeFileInfo(const std::string& uri, bool directory)
{
    auto* info = static_cast<FakeFileInfo*>(g_object_new(fakeFileInfoType(), nullptr));
    info->uri = g_strdup(uri.c_str());
    info->directory = directory;
    return NAUTILUS_FILE_INFO(info);
}

} // namespace fv_test
