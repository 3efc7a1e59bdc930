#pragma once

#include <cstddef>
#include <string>

namespace fv_test {

class PageReports;
class RouteTable;

// A page of our own standing in for the web application, so the program's bridges can be
// driven without the real one:
//   GET  <appPath>[?scenario=NAME]  the page (text/html); it calls "onAppReady", then runs the
//        scenario ("none" when absent) and reports every reply, failure and call it receives
//   POST <appPath>/report  {"call": "<name>", "args": [...]} -> 200 {}, kept in `reports`;
//        400 for a body that is not such an object or exceeds kMaxPageReportBytes.
// The page's source is tests/support/service/page/TestPage.html, built into the service.
void addPageRoutes(RouteTable& routes, PageReports& reports, const std::string& appPath = "/app");

constexpr size_t kMaxPageReportBytes = 1024 * 1024;

const std::string& testPageHtml();

} // namespace fv_test
