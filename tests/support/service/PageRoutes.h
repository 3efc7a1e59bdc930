#pragma once

#include <cstddef>
#include <map>
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
//   GET  <appPath>/fixtures/<name>.html  pages that do what a hosted page must not get away
//        with (see page/fixtures/); each reports "fixture-loaded" [name, address] and what it
//        tried. "localhost" in their addresses is this service under a second origin.
//   GET  <appPath>/fixtures/file.bin  bytes served as an attachment (a download)
//   GET  <appPath>/fixtures/redirect  302 to landing.html under "localhost", the same port
// The pages' sources are in tests/support/service/page/, built into the service; the report
// function they share (report.js) is built into each of them.
void addPageRoutes(RouteTable& routes, PageReports& reports, const std::string& appPath = "/app");

constexpr size_t kMaxPageReportBytes = 1024 * 1024;

const std::string& testPageHtml();
// The fixture pages by file name ("links.html").
const std::map<std::string, std::string>& fixturePages();

} // namespace fv_test
