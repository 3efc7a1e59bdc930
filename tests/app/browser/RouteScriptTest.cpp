#include "browser/RouteScript.h"

#include <json/json.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

const std::string kHead = "Backbone.history.navigate(";
const std::string kTail = ", { trigger: true });";

// The route as a script engine would read the argument back: the text between the call's head
// and its options, parsed as the JSON string literal it must be.
std::string routeReadBack(const std::string& script)
{
    EXPECT_EQ(0u, script.find(kHead)) << script;
    EXPECT_GE(script.size(), kHead.size() + kTail.size()) << script;
    EXPECT_EQ(kTail, script.substr(script.size() - kTail.size())) << script;
    const std::string literal = script.substr(kHead.size(), script.size() - kHead.size() - kTail.size());
    Json::Value value;
    std::string errors;
    const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    EXPECT_TRUE(reader->parse(literal.data(), literal.data() + literal.size(), &value, &errors)) << literal;
    EXPECT_TRUE(value.isString()) << literal;
    return value.isString() ? value.asString() : std::string();
}

TEST(RouteScript, NavigatesTheRouterWithTheRouteAsAStringLiteral)
{
    EXPECT_EQ("Backbone.history.navigate(\"/message/new\", { trigger: true });",
              ferrovan::routeNavigationScript("/message/new"));
    EXPECT_EQ("Backbone.history.navigate(\"/share/new\", { trigger: true });",
              ferrovan::routeNavigationScript("/share/new"));
}

TEST(RouteScript, EveryCharacterOfTheRouteArrivesIntact)
{
    const std::string routes[] = {
        "/share/new",
        "/it's",
        "/a\"b",
        "/back\\slash\\",
        "/line\nbreak\r",
        "/</script><script>alert(1)</script>",
        "/sep\xE2\x80\xA8para\xE2\x80\xA9",
        "/\xC3\xA9t\xC3\xA9/\xF0\x9F\x93\x81",
        "');alert(1);('",
        "",
    };
    for (const std::string& route : routes) {
        const std::string script = ferrovan::routeNavigationScript(route);
        EXPECT_EQ(route, routeReadBack(script)) << script;
        // A raw line terminator would end the literal in a script parser.
        for (const std::string& terminator :
             {std::string("\n"), std::string("\r"), std::string("\xE2\x80\xA8"), std::string("\xE2\x80\xA9")})
            EXPECT_EQ(std::string::npos, script.find(terminator)) << script;
    }
}

} // namespace
