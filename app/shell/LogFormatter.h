#pragma once

#include <Poco/AutoPtr.h>
#include <Poco/Channel.h>
#include <Poco/FormattingChannel.h>

namespace ferrovan {

// The main program's line format, shared with the transfer library's log so the help desk reads
// both the same way: local time, thread id and name, priority, text. Writes into `target`.
Poco::AutoPtr<Poco::FormattingChannel> createLogFormatter(Poco::Channel::Ptr target);

} // namespace ferrovan
