#include "bridge/QueryHandlerRegistry.h"

namespace ferrovan {

QueryHandlerRegistry& QueryHandlerRegistry::getInstance()
{
    static QueryHandlerRegistry registry;
    return registry;
}

void QueryHandlerRegistry::addHandler(const std::string& name, CQueryHandlerBase* handler)
{
    Poco::SharedPtr<CQueryHandlerBase>& entry = m_entries[name];
    if (handler && entry.get() == handler)
        return;
    // Taken before the old one goes, so a throwing destructor cannot leak the new handler.
    Poco::SharedPtr<CQueryHandlerBase> taken(handler);
    entry.swap(taken);
}

Poco::SharedPtr<CQueryHandlerBase> QueryHandlerRegistry::findByHandler(const CQueryHandlerBase* handler) const
{
    if (!handler)
        return {};
    for (const auto& entry : m_entries)
        if (entry.second.get() == handler)
            return entry.second;
    return {};
}

void QueryHandlerRegistry::clear()
{
    // Emptied first: a handler's destructor that reaches the registry finds it consistent.
    Entries released;
    released.swap(m_entries);
}

} // namespace ferrovan
