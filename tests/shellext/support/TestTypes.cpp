#include "TestTypes.h"

namespace fv_test {

GType registerTestType(GType parent, const char* name, guint classSize, GClassInitFunc classInit, guint instanceSize)
{
    GTypeInfo info{};
    info.class_size = static_cast<guint16>(classSize);
    info.class_init = classInit;
    info.instance_size = static_cast<guint16>(instanceSize);
    return g_type_register_static(parent, name, &info, GTypeFlags(0));
}

} // namespace fv_test
