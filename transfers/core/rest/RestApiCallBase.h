#pragma once

#include "core/base/DtError.h"
#include "core/http/CurlConnection.h"
#include "core/rest/RestTypes.h"

#include <json/json.h>

#include <initializer_list>
#include <string>

namespace fv_transfers {

// One exchange with the REST endpoint: a JSON request over the object's own connection, then
// the answer's status mapped to a dt_error and its body parsed. Objects live on the caller's
// stack, one thread each. Nothing here throws: failures are logged and returned.
//
// Result of receiveResponse: status >= 500 -> dt_general_error; 400-499 ->
// dt_rest_client_error; below 400 -> dt_success when the body is JSON, else dt_general_error.
class CRestApiCallBase {
public:
    // The endpoint of the configuration, time-outs 30000/30000/30000 ms.
    CRestApiCallBase();
    // The given base URL (no trailing slash), the connection's own time-outs
    // (30000/60000/60000 ms).
    explicit CRestApiCallBase(const std::string& serverUrl);
    // As above, over a connection with its own settings instead of the configuration's.
    CRestApiCallBase(const std::string& serverUrl, ConnectionSettings settings);
    virtual ~CRestApiCallBase();
    CRestApiCallBase(const CRestApiCallBase&) = delete;
    CRestApiCallBase& operator=(const CRestApiCallBase&) = delete;

    // Sends `body` (none when null) to base URL + `path`. Fixed headers first (Content-Length
    // when there is a body, User-Agent, Content-Type: application/json), then `headers`,
    // which replace fixed ones of the same name. dt_not_connected without a base URL;
    // dt_invalid_argument for control characters in the path or a header.
    virtual dt_error sendRequest(const std::string& path, const Json::Value& body, const RestHeaderList& headers,
                                 RestRequestType type);
    // Reads the answer to the request sent on this object. The body of a status >= 400 is
    // parsed into `root` only when `parseBodyOnError` is set; `root` is untouched otherwise.
    virtual dt_error receiveResponse(Json::Value& root, bool parseBodyOnError);

    // May be changed between construction and sendRequest.
    void setTimeouts(const RestTimeouts& timeouts);
    RestTimeouts timeouts() const;
    const std::string& serverUrl() const { return m_serverUrl; }
    // The status of the last answer read; 0 before one arrived.
    int httpStatus() const { return m_httpStatus; }
    // The cause of the last failure on the connection (CCurlConnection::lastErrorText).
    const std::string& lastErrorText() const { return m_connection.lastErrorText(); }

protected:
    // False, with an error line, unless every id is a safe path segment
    // (rest_encoding::isSafeId) and the token has no control characters.
    static bool acceptRequestValues(std::initializer_list<const std::string*> ids, const std::string& token,
                                    const char* caller);

    std::string m_serverUrl;
    CCurlConnection m_connection;

private:
    dt_error send(const std::string& path, const Json::Value& body, const RestHeaderList& headers,
                  RestRequestType type);
    dt_error receive(Json::Value& root, bool parseBodyOnError);

    int m_httpStatus = 0;
};

} // namespace fv_transfers
