#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fv_test {

class TestService;

// The help desk's two endpoints, installed on a TestService of its own (the help desk has a
// base URL apart from the service's):
//   POST /api/v2/uploads.json?filename=<name>  an attachment, "Content-Type: application/binary"
//        (else 415) -> 201 {"upload": {"token": "upload-token-<n>", ...}}
//   POST /api/v2/requests.json  {"request": {..., "comment": {"uploads": [<token>...]}}}
//        -> 201 {"request": {"id": <n>, ...}}; 422 when the body is not such a request or
//        names an unknown upload token.
// Bad answers are shaped with the service's FaultPlan (see RestFaults.h).
class FakeHelpDesk {
public:
    struct Upload {
        std::string fileName; // the "filename" query value
        std::string contentType;
        std::string body;
        std::string token; // the token handed out for it
    };

    explicit FakeHelpDesk(TestService& service);

    // What arrived, in order of arrival; requests as their raw bodies, the refused ones too.
    std::vector<Upload> uploads() const;
    std::vector<std::string> requests() const;

    // Runs on the connection's thread once an upload was read, before it is answered; it may
    // block to hold that report back.
    void onUpload(std::function<void(const Upload&)> hook);

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace fv_test
