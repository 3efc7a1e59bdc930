#include "shell/LogFormatter.h"

#include <Poco/PatternFormatter.h>

namespace ferrovan {

Poco::AutoPtr<Poco::FormattingChannel> createLogFormatter(Poco::Channel::Ptr target)
{
    auto formatter = Poco::makeAuto<Poco::PatternFormatter>("[%n-%e-%y %H:%M:%S:%i] [%I %T] [%p] %t");
    formatter->setProperty("times", "local");
    return Poco::makeAuto<Poco::FormattingChannel>(formatter, target);
}

} // namespace ferrovan
