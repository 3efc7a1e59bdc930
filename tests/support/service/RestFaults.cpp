#include "support/service/RestFaults.h"

#include <Poco/NumberParser.h>
#include <Poco/StringTokenizer.h>

#include <memory>
#include <vector>

namespace fv_test {
namespace rest_faults {

namespace {

std::string writeJson(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

bool parseJson(const std::string& text, Json::Value& root)
{
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    return reader->parse(text.data(), text.data() + text.size(), &root, &errors);
}

std::vector<std::string> split(const std::string& path)
{
    Poco::StringTokenizer tokens(path, ".", Poco::StringTokenizer::TOK_IGNORE_EMPTY);
    return std::vector<std::string>(tokens.begin(), tokens.end());
}

// The value a step leads to inside `parent`, or null when the step does not fit.
Json::Value* step(Json::Value& parent, const std::string& key)
{
    unsigned index = 0;
    if (parent.isArray() && Poco::NumberParser::tryParseUnsigned(key, index))
        return index < parent.size() ? &parent[index] : nullptr;
    if (parent.isObject() && parent.isMember(key))
        return &parent[key];
    return nullptr;
}

// The container that holds the path's last step, or null.
Json::Value* parentOf(Json::Value& root, const std::vector<std::string>& keys)
{
    Json::Value* node = &root;
    for (size_t i = 0; node && i + 1 < keys.size(); ++i)
        node = step(*node, keys[i]);
    return node;
}

} // namespace

Fault changeJson(std::function<void(Json::Value&)> change)
{
    return Fault::mutateResponse([change = std::move(change)](ServiceResponse& response) {
        Json::Value root;
        if (!parseJson(response.body, root))
            return;
        change(root);
        response.body = writeJson(root);
    });
}

Fault malformedJson()
{
    return Fault::mutateResponse(
        [](ServiceResponse& response) { response.body = response.body.substr(0, response.body.size() / 2) + "<"; });
}

Fault removeMember(const std::string& path)
{
    const std::vector<std::string> keys = split(path);
    return changeJson([keys](Json::Value& root) {
        Json::Value* parent = parentOf(root, keys);
        if (!parent || keys.empty())
            return;
        unsigned index = 0;
        if (parent->isArray() && Poco::NumberParser::tryParseUnsigned(keys.back(), index)) {
            Json::Value removed;
            parent->removeIndex(index, &removed);
        } else if (parent->isObject()) {
            parent->removeMember(keys.back());
        }
    });
}

Fault setMember(const std::string& path, const Json::Value& value)
{
    const std::vector<std::string> keys = split(path);
    return changeJson([keys, value](Json::Value& root) {
        Json::Value* parent = parentOf(root, keys);
        if (!parent || keys.empty())
            return;
        unsigned index = 0;
        if (parent->isArray() && Poco::NumberParser::tryParseUnsigned(keys.back(), index)) {
            if (index < parent->size())
                (*parent)[index] = value;
        } else if (parent->isObject() || parent->isNull()) {
            (*parent)[keys.back()] = value;
        }
    });
}

Fault idMismatch()
{
    return changeJson([](Json::Value& root) {
        for (const char* object : {"file", "bucket"}) {
            if (root.isObject() && root.isMember(object) && root[object].isObject() && root[object].isMember("id"))
                root[object]["id"] = "some-other-id";
        }
    });
}

Fault htmlError(int status)
{
    return Fault::statusCode(
        status, "<html><head><title>Error</title></head><body><h1>" + std::to_string(status) + "</h1></body></html>",
        "text/html");
}

Fault jsonError(int status, const Json::Value& body)
{
    return Fault::statusCode(status, writeJson(body), "application/json");
}

} // namespace rest_faults
} // namespace fv_test
