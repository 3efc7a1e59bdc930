#pragma once

#include "core/rest/RestTypes.h"

#include <json/json.h>

#include <cstdint>
#include <string>

namespace fv_transfers {

// JSON as the service expects and sends it. Every lookup checks the type first: JsonCpp
// throws on a member access of the wrong type, and answers come from the network.
namespace rest_json {

// One line, members in ascending byte order, non-ASCII as \uXXXX, a final "\n".
std::string write(const Json::Value& value);
// False (and `root` unchanged) unless the whole text is one JSON value.
bool parse(const std::string& text, Json::Value& root);

// The member when `object` is an object that has it, else null.
const Json::Value* member(const Json::Value& object, const char* name);
// The member when it is an object.
const Json::Value* objectMember(const Json::Value& object, const char* name);
// Each getter leaves `out` unchanged and returns false when the member is absent or of
// another type. Whole non-negative numbers of any JSON form count as unsigned.
bool getString(const Json::Value& object, const char* name, std::string& out);
bool getUInt64(const Json::Value& object, const char* name, uint64_t& out);
bool getInt(const Json::Value& object, const char* name, int& out);
bool getBool(const Json::Value& object, const char* name, bool& out);
// An object of string values, appended in member-name order; false when `value` is not such
// an object (nothing is appended then).
bool getHeaders(const Json::Value& value, RestHeaderList& out);

// A string, or null for an empty one (the service's way to say "not known").
Json::Value stringOrNull(const std::string& text);

// The service's token answers: a required, non-empty "token" and an optional "tokenExpires"
// (0 when absent). Logs the missing token; false when there is none.
bool getTokenWithExpiry(const Json::Value& object, std::string& token, uint64_t& expires);

// "REST response doesn't contain mandatory attribute '<attribute>'[ in object '<object>']".
void logMissingMandatoryAttribute(const std::string& attribute, const std::string& objectName);

} // namespace rest_json
} // namespace fv_transfers
