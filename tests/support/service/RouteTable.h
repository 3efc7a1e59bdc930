#pragma once

#include "support/service/PathPattern.h"
#include "support/service/ServiceMessages.h"
#include "support/service/ServiceRequest.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace fv_test {

// A handler fills the response; an exception it throws becomes a 500.
using RouteHandler = std::function<void(ServiceRequest& request, ServiceResponse& response)>;

// Method + path pattern -> handler. Routes may be added while the service runs; when several
// match, the one added last wins, so a test can override a built-in route.
class RouteTable {
public:
    struct Match {
        RouteHandler handler;
        RouteParams params;
    };

    void add(const std::string& method, const std::string& pattern, RouteHandler handler);
    std::optional<Match> find(const std::string& method, const std::string& path) const;
    // Whether some route serves this path with another method (405 rather than 404).
    bool knowsPath(const std::string& path) const;

private:
    struct Route {
        std::string method;
        PathPattern pattern;
        RouteHandler handler;
    };

    mutable std::mutex m_mutex;
    std::vector<Route> m_routes;
};

} // namespace fv_test
