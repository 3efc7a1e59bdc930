#include "browser/RouteScript.h"

#include <json/json.h>

namespace ferrovan {

std::string routeNavigationScript(const std::string& route)
{
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    // Everything past ASCII leaves as \u escapes: U+2028 and U+2029 end a line in older script
    // parsers even inside a string literal.
    writer["emitUTF8"] = false;
    return "Backbone.history.navigate(" + Json::writeString(writer, Json::Value(route)) + ", { trigger: true });";
}

} // namespace ferrovan
