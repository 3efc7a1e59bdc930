#pragma once

// The extension header of Nautilus 43 declares the module entry points outside its C linkage
// block, so C++ must wrap it; GIO goes first so its own headers keep their C++ parts.
#include <gio/gio.h>

extern "C" {
#include <nautilus-extension.h>
}
