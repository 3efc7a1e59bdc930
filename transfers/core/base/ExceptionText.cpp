#include "core/base/ExceptionText.h"

#include <Poco/Exception.h>

namespace fv_transfers {

std::string exceptionText(const std::exception& e)
{
    if (const auto* poco = dynamic_cast<const Poco::Exception*>(&e))
        return poco->displayText();
    return e.what();
}

} // namespace fv_transfers
