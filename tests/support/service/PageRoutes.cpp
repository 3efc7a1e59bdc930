#include "support/service/PageRoutes.h"

#include "support/service/PageReports.h"
#include "support/service/RouteTable.h"

#include <json/json.h>

#include <memory>
#include <stdexcept>

namespace fv_test {

namespace {

constexpr std::size_t kFixtureDownloadBytes = 4096;

// A report as the page sends it; anything else is the page's fault and must fail loudly.
bool parseReport(const std::string& text, Json::Value& report)
{
    Json::CharReaderBuilder builder;
    builder["failIfExtra"] = true;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    return reader->parse(text.data(), text.data() + text.size(), &report, &errors) && report.isObject() &&
           report["call"].isString() && report["args"].isArray();
}

void receiveReport(PageReports& reports, ServiceRequest& request, ServiceResponse& response)
{
    std::string body;
    try {
        body = request.readWholeBody(kMaxPageReportBytes);
    } catch (const std::length_error&) {
        response.setBody(400, "report too large\n", "text/plain");
        // Not worth draining whatever else the client sends.
        response.close = true;
        return;
    }
    Json::Value report;
    if (!parseReport(body, report))
        return response.setBody(400, "not a report: {\"call\": name, \"args\": [...]}\n", "text/plain");
    reports.add(std::move(report));
    response.setBody(200, "{}", "application/json");
}

// The Host header's port, or the scheme's default when it names none.
std::string requestPort(const ServiceRequest& request)
{
    const std::string host = request.headers().get("Host");
    const std::size_t colon = host.rfind(':');
    if (colon == std::string::npos || host.find(']', colon) != std::string::npos)
        return request.secure() ? "443" : "80";
    return host.substr(colon + 1);
}

void addFixtureRoutes(RouteTable& routes, const std::string& fixturesPath)
{
    routes.add("GET", fixturesPath + "/{page}", [](ServiceRequest& request, ServiceResponse& response) {
        const auto page = fixturePages().find(request.param("page"));
        if (page == fixturePages().end())
            return response.setBody(404, "no such fixture\n", "text/plain");
        response.setBody(200, page->second, "text/html; charset=utf-8");
        response.headers.set("Cache-Control", "no-store");
    });
    routes.add("GET", fixturesPath + "/file.bin", [](ServiceRequest&, ServiceResponse& response) {
        response.setBody(200, std::string(kFixtureDownloadBytes, 'f'), "application/octet-stream");
        response.headers.set("Content-Disposition", "attachment; filename=\"file.bin\"");
    });
    routes.add("GET", fixturesPath + "/redirect", [fixturesPath](ServiceRequest& request, ServiceResponse& response) {
        response.setBody(302, "", "text/plain");
        response.headers.set("Location", std::string(request.secure() ? "https" : "http") +
                                             "://localhost:" + requestPort(request) + fixturesPath + "/landing.html");
    });
}

} // namespace

void addPageRoutes(RouteTable& routes, PageReports& reports, const std::string& appPath)
{
    routes.add("GET", appPath, [](ServiceRequest&, ServiceResponse& response) {
        response.setBody(200, testPageHtml(), "text/html; charset=utf-8");
        response.headers.set("Cache-Control", "no-store");
    });
    routes.add("POST", appPath + "/report", [&reports](ServiceRequest& request, ServiceResponse& response) {
        receiveReport(reports, request, response);
    });
    addFixtureRoutes(routes, appPath + "/fixtures");
}

} // namespace fv_test
