#pragma once

#include "bridge/QueryHandlerBase.h"

#include <Poco/SharedPtr.h>

#include <map>
#include <string>

namespace ferrovan {

// The process's bridge handlers by bridge name, iterated in byte-wise name order. It owns the
// handlers; one lives on while another holder keeps a copy of its pointer. Used on the UI thread
// only.
class QueryHandlerRegistry {
public:
    using Entries = std::map<std::string, Poco::SharedPtr<CQueryHandlerBase>>;

    static QueryHandlerRegistry& getInstance();

    // Takes `handler` (null gives a name without a handler); a different handler already under
    // the name is released. Adding the very handler held again changes nothing.
    void addHandler(const std::string& name, CQueryHandlerBase* handler);
    // Shares ownership with the entry holding `handler`; empty when none does.
    Poco::SharedPtr<CQueryHandlerBase> findByHandler(const CQueryHandlerBase* handler) const;
    void clear();

    bool empty() const { return m_entries.empty(); }
    Entries::const_iterator begin() const { return m_entries.begin(); }
    Entries::const_iterator end() const { return m_entries.end(); }

private:
    QueryHandlerRegistry() = default;

    Entries m_entries;
};

} // namespace ferrovan
