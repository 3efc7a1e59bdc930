#include "support/service/PageRoutes.h"

#include "support/service/PageReports.h"
#include "support/service/RouteTable.h"

#include <json/json.h>

#include <memory>
#include <stdexcept>

namespace fv_test {

namespace {

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
}

} // namespace fv_test
