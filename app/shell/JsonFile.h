#pragma once

#include <json/json.h>

#include <string>

namespace ferrovan {

// Reads and parses the JSON file at `path` into `root`. False, and `root` not to be used, when
// the file is missing, not a regular file, over 10 MiB, unreadable or not JSON.
bool readFileToString(const std::string& path, Json::Value& root);

// Replaces the file at `path` with `root` in JsonCpp's styled form, readable by its owner only.
// The text goes to `path` + ".tmp", is synced, then renamed over the file, so a crash or a full
// disk leaves the old file or the new one, never a part. A failure is logged; false then.
bool writeJsonToFile(const std::string& path, const Json::Value& root);

} // namespace ferrovan
