#pragma once

#include "bridge/QueryHandlerBase.h"

#include <json/value.h>

namespace fv_test {

// A bridge handler with one method that answers its parameters as given and one that reads a
// member of them.
class TwoMethodHandler : public ferrovan::CQueryHandlerBase {
public:
    TwoMethodHandler()
    {
        registerMethod("echo", &TwoMethodHandler::echo);
        registerMethod("greet", &TwoMethodHandler::greet);
    }

private:
    Json::Value echo(const Json::Value& parameters) { return parameters; }
    Json::Value greet(const Json::Value& parameters)
    {
        const Json::Value& members = parameterObject(parameters, "fv_test::TwoMethodHandler::greet");
        Json::Value reply(Json::objectValue);
        reply["greeting"] = "hello " + members.get("name", "").asString();
        return reply;
    }
};

} // namespace fv_test
