#pragma once

namespace ferrovan {

// SIGTERM and SIGINT wait from the start of main until the toolkit watches them, so a stop
// during start-up still ends in the whole shutdown. Blocking alone cannot hold them: WebKit's
// library starts a thread before main, which keeps them unblocked, so a handler of our own keeps
// a stop that reaches it.

// First thing in main, before any thread of the program's own.
void holdStopSignals();
// Once GLib watches the signals and they are unblocked: sends the kept stops again, to it.
void replayHeldStopSignals();

} // namespace ferrovan
