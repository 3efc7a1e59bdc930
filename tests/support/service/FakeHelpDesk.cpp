#include "support/service/FakeHelpDesk.h"

#include "support/service/TestService.h"

#include <json/json.h>

#include <mutex>

namespace fv_test {

struct FakeHelpDesk::State {
    std::mutex mutex;
    std::vector<Upload> uploads;
    std::vector<std::string> requests;
    std::function<void(const Upload&)> hook;
};

namespace {

std::string writeJson(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

void error(ServiceResponse& response, int status, const std::string& message)
{
    Json::Value body(Json::objectValue);
    body["error"] = message;
    response.setBody(status, writeJson(body), "application/json");
}

bool parseObject(const std::string& text, Json::Value& root)
{
    Json::CharReaderBuilder builder;
    builder["failIfExtra"] = true;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    return reader->parse(text.data(), text.data() + text.size(), &root, &errors) && root.isObject();
}

// The attachment tokens a request names, when it is shaped as the help desk expects.
bool readRequest(const std::string& text, std::vector<std::string>& tokens)
{
    Json::Value root;
    if (!parseObject(text, root) || !root["request"].isObject())
        return false;
    const Json::Value& request = root["request"];
    if (!request["subject"].isString() || !request["requester"].isObject() || !request["comment"].isObject() ||
        !request["comment"]["body"].isString() || !request["comment"]["uploads"].isArray())
        return false;
    for (const Json::Value& token : request["comment"]["uploads"]) {
        if (!token.isString())
            return false;
        tokens.push_back(token.asString());
    }
    return true;
}

} // namespace

FakeHelpDesk::FakeHelpDesk(TestService& service) : m_state(std::make_shared<State>())
{
    std::shared_ptr<State> state = m_state;
    service.routes().add("POST", "/api/v2/uploads.json", [state](ServiceRequest& request, ServiceResponse& response) {
        Upload upload;
        upload.fileName = request.queryParam("filename");
        upload.contentType = request.headers().get("Content-Type");
        upload.body = request.readWholeBody();
        std::function<void(const Upload&)> hook;
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            upload.token = "upload-token-" + std::to_string(state->uploads.size() + 1);
            state->uploads.push_back(upload);
            hook = state->hook;
        }
        if (hook)
            hook(upload);
        if (upload.contentType != "application/binary")
            return error(response, 415, "attachments are application/binary");
        Json::Value answer;
        answer["upload"]["token"] = upload.token;
        answer["upload"]["attachment"]["file_name"] = upload.fileName;
        answer["upload"]["attachment"]["size"] = Json::UInt64(upload.body.size());
        response.setBody(201, writeJson(answer), "application/json");
    });
    service.routes().add("POST", "/api/v2/requests.json", [state](ServiceRequest& request, ServiceResponse& response) {
        const std::string body = request.readWholeBody();
        std::vector<std::string> tokens;
        const bool shaped = readRequest(body, tokens);
        std::lock_guard<std::mutex> lock(state->mutex);
        state->requests.push_back(body);
        for (const std::string& token : tokens) {
            bool known = false;
            for (const Upload& upload : state->uploads)
                known = known || upload.token == token;
            if (!known)
                return error(response, 422, "unknown upload token");
        }
        if (!shaped)
            return error(response, 422, "not a request");
        Json::Value answer;
        answer["request"]["id"] = Json::UInt64(state->requests.size());
        answer["request"]["status"] = "new";
        response.setBody(201, writeJson(answer), "application/json");
    });
}

std::vector<FakeHelpDesk::Upload> FakeHelpDesk::uploads() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->uploads;
}

std::vector<std::string> FakeHelpDesk::requests() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->requests;
}

void FakeHelpDesk::onUpload(std::function<void(const Upload&)> hook)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->hook = std::move(hook);
}

} // namespace fv_test
