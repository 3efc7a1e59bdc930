#pragma once

namespace ferrovan {
namespace messages {

// Adds the upload and the download handler, in this order, to the process's list; the browser
// host calls it when its main browser exists.
void createMessageHandlers();

} // namespace messages
} // namespace ferrovan
