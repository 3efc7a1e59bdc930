#include "core/rest/RestJson.h"

#include "core/log/FvTransfersLogger.h"

#include <memory>
#include <sstream>

namespace fv_transfers {
namespace rest_json {

std::string write(const Json::Value& value)
{
    // FastWriter is the writer whose output the service has always received; JsonCpp 1.9
    // merely marks it deprecated.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Json::FastWriter writer;
    return writer.write(value);
#pragma GCC diagnostic pop
}

bool parse(const std::string& text, Json::Value& root)
{
    Json::CharReaderBuilder builder;
    builder["failIfExtra"] = true;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value parsed;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &parsed, &errors))
        return false;
    root = std::move(parsed);
    return true;
}

const Json::Value* member(const Json::Value& object, const char* name)
{
    if (!object.isObject())
        return nullptr;
    const std::string key(name);
    return object.find(key.data(), key.data() + key.size());
}

const Json::Value* objectMember(const Json::Value& object, const char* name)
{
    const Json::Value* value = member(object, name);
    return value && value->isObject() ? value : nullptr;
}

namespace {

// The member converted when `isType` accepts it; `out` untouched otherwise.
template <typename T>
bool getTyped(const Json::Value& object, const char* name, T& out, bool (Json::Value::*isType)() const,
              T (Json::Value::*as)() const)
{
    const Json::Value* value = member(object, name);
    if (!value || !(value->*isType)())
        return false;
    out = (value->*as)();
    return true;
}

} // namespace

bool getString(const Json::Value& object, const char* name, std::string& out)
{
    return getTyped<std::string>(object, name, out, &Json::Value::isString, &Json::Value::asString);
}

bool getUInt64(const Json::Value& object, const char* name, uint64_t& out)
{
    Json::UInt64 value = 0;
    if (!getTyped<Json::UInt64>(object, name, value, &Json::Value::isUInt64, &Json::Value::asUInt64))
        return false;
    out = value;
    return true;
}

bool getInt(const Json::Value& object, const char* name, int& out)
{
    return getTyped<int>(object, name, out, &Json::Value::isInt, &Json::Value::asInt);
}

bool getBool(const Json::Value& object, const char* name, bool& out)
{
    return getTyped<bool>(object, name, out, &Json::Value::isBool, &Json::Value::asBool);
}

bool getHeaders(const Json::Value& value, RestHeaderList& out)
{
    if (!value.isObject())
        return false;
    RestHeaderList headers;
    for (const std::string& name : value.getMemberNames()) {
        const Json::Value& field = value[name];
        if (!field.isString())
            return false;
        headers.emplace_back(name, field.asString());
    }
    out.insert(out.end(), headers.begin(), headers.end());
    return true;
}

Json::Value stringOrNull(const std::string& text)
{
    return text.empty() ? Json::Value(Json::nullValue) : Json::Value(text);
}

bool getTokenWithExpiry(const Json::Value& object, std::string& token, uint64_t& expires)
{
    if (!getString(object, "token", token) || token.empty()) {
        logMissingMandatoryAttribute("token", "");
        return false;
    }
    getUInt64(object, "tokenExpires", expires);
    return true;
}

void logMissingMandatoryAttribute(const std::string& attribute, const std::string& objectName)
{
    FV_LOG_ERROR("REST response doesn't contain mandatory attribute '"
                 << attribute << "'" << (objectName.empty() ? std::string() : " in object '" + objectName + "'"));
}

} // namespace rest_json
} // namespace fv_transfers
