#include "shell/LogText.h"

#include "core/log/LogRedaction.h"

#include <algorithm>

namespace ferrovan {

std::string printableForLog(std::string text)
{
    std::replace_if(
        text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }, '?');
    return text;
}

std::string urlForLog(const std::string& url)
{
    return printableForLog(fv_transfers::redactSecrets(url));
}

} // namespace ferrovan
