// Shared by the test page and the fixture pages, and built into each of them by the service.
// fvReport(call, args) posts {"call": call, "args": args} to /app/report of the page's own
// origin, where the test waits for it, and shows it in the page's "reports" list when it has one.
// It answers a promise that settles once this and every earlier report was sent.
// fvServiceUrl(host, path) is this service's address under another host name.
var fvReport = (function () {
  "use strict";

  function show(text) {
    var reports = document.getElementById("reports");
    if (!reports)
      return;
    var line = document.createElement("div");
    line.textContent = text;
    reports.appendChild(line);
  }

  // One POST per call, each sent once the previous one ended, so the service keeps them in
  // the order they happened (parallel requests may arrive in any order).
  var sending = Promise.resolve();

  function post(body) {
    return new Promise(function (done) {
      var request = new XMLHttpRequest();
      request.open("POST", "/app/report");
      request.setRequestHeader("Content-Type", "application/json");
      request.onloadend = function () { done(); };
      request.send(body);
    });
  }

  return function (call, args) {
    var body = JSON.stringify({call: call, args: args});
    show(body);
    sending = sending.then(function () { return post(body); });
    return sending;
  };
})();

function fvServiceUrl(host, path) {
  "use strict";
  return window.location.protocol + "//" + host + (window.location.port ? ":" + window.location.port : "") + path;
}
