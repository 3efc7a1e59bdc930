// fv-testservice --port N [--tls] [--data-dir DIR]
// Serves the test service on 127.0.0.1 until SIGINT or SIGTERM. Standalone, storage accepts
// unsigned URLs too (benchmarks and manual runs use plain /storage/<key> URLs).

#include "support/net/TestCa.h"
#include "support/service/RestRoutes.h"
#include "support/service/TestService.h"

#include <Poco/NumberParser.h>

#include <csignal>
#include <iostream>
#include <string>

namespace {

int usage()
{
    std::cerr << "usage: fv-testservice --port N [--tls] [--data-dir DIR]\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    fv_test::TestServiceOptions options;
    options.requireSignedStorage = false;
    options.bodyCaptureLimit = 0;
    bool tls = false;
    unsigned port = 0;
    bool portGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--tls") {
            tls = true;
        } else if (arg == "--port" && i + 1 < argc) {
            portGiven = Poco::NumberParser::tryParseUnsigned(argv[++i], port) && port <= 65535;
        } else if (arg == "--data-dir" && i + 1 < argc) {
            options.dataDirectory = argv[++i];
        } else {
            return usage();
        }
    }
    if (!portGiven)
        return usage();
    options.http = !tls;
    options.https = tls;
    options.httpPort = options.httpsPort = static_cast<uint16_t>(port);

    // Block the stop signals before any thread starts, so only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        fv_test::TestService service(options);
        fv_test::RestRoutes rest(service);
        std::cout << "base URL: " << (tls ? service.secureBaseUrl() : service.baseUrl()) << "\n"
                  << "REST:     " << service.url("/api/v2/bucket/", tls) << "\n"
                  << "storage:  " << service.url("/storage/<key>", tls) << " (PUT, GET with Range)\n"
                  << "redirect: " << service.url("/redirect?to=<url>", tls) << "\n";
        if (tls)
            std::cout << "CA file:  " << fv_test::TestCa::instance().caFile() << " (valid while this runs)\n";
        if (!options.dataDirectory.empty())
            std::cout << "objects in " << options.dataDirectory << "\n";
        std::cout << std::flush;
        int received = 0;
        sigwait(&stopSignals, &received);
        service.stop();
    } catch (const std::exception& error) {
        std::cerr << "fv-testservice: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
