#include "shell/ExceptionText.h"

#include <Poco/Exception.h>

namespace ferrovan {

std::string exceptionText(const std::exception& e)
{
    if (const auto* poco = dynamic_cast<const Poco::Exception*>(&e))
        return poco->displayText();
    return e.what();
}

} // namespace ferrovan
