#pragma once

#include "linux/NautilusExtension.h"

#include <string>

namespace fv_test {

// A file as the file manager describes it to extensions, made from its address alone. Only the
// interface's basic queries answer; an extension that asks for more crashes the test.
NautilusFileInfo* newFakeFileInfo(const std::string& uri, bool directory);

} // namespace fv_test
