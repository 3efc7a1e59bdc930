#include "core/log/LogPrefix.h"

namespace fv_transfers {

CLogPrefix::CLogPrefix(const std::string& name_, std::int32_t id_, const std::string& detail_)
    : name(name_), id(id_), detail(detail_)
{
}

std::string CLogPrefix::toString() const
{
    if (name.empty())
        return std::string();
    std::string text = "[" + name + "[" + std::to_string(static_cast<std::uint32_t>(id)) + "]";
    if (!detail.empty())
        text += ": " + detail;
    if (subId != -1)
        text += ": " + std::to_string(subId);
    return text + "] ";
}

} // namespace fv_transfers
