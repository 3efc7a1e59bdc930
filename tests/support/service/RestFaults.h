#pragma once

#include "support/service/FaultPlan.h"

#include <json/json.h>

#include <functional>
#include <string>

namespace fv_test {

// Faults that change a REST route's JSON answer, for the service's FaultPlan:
//   service.faults().add({"GET", "/api/v2/bucket/*", 1, 1, rest_faults::removeMember("bucket.created")});
// Member paths are dotted; a number selects an array element ("partUploadDetails.0.url").
namespace rest_faults {

// Any change of the parsed answer; the status stays.
Fault changeJson(std::function<void(Json::Value&)> change);
// The answer cut short, so it no longer parses.
Fault malformedJson();
Fault removeMember(const std::string& path);
Fault setMember(const std::string& path, const Json::Value& value);
// "file.id" and "bucket.id" (where present) replaced by another id.
Fault idMismatch();
// A status with an HTML page, as a proxy or a load balancer answers; the route is not called.
Fault htmlError(int status);
// A status with a JSON body; the route is not called.
Fault jsonError(int status, const Json::Value& body);

} // namespace rest_faults
} // namespace fv_test
