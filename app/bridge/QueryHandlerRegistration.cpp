#include "bridge/QueryHandlerRegistration.h"

namespace ferrovan {

void registerQueryHandlers(bool createHandlers)
{
    // The bridges enter here, each with registerQueryHandler<Handler>(name, createHandlers), as
    // their handlers are built.
    (void)createHandlers;
}

} // namespace ferrovan
