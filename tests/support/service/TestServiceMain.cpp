// fv-testservice --port N [--tls] [--data-dir DIR] [--user NAME:PASSWORD]... [--seed FILE]
//                [--conn-rate BPS] [--complete-once]
// Serves the test service on 127.0.0.1 until SIGINT or SIGTERM. Standalone, storage accepts
// unsigned URLs too (benchmarks and manual runs use plain /storage/<key> URLs). A seed file
// (see ServiceSeed.h) is read before anything is served; each seeded file gets a line
// "seeded <bucket>/<id> size=<n> digest=<digest>" ahead of the addresses. A bad seed file or
// option ends the program with exit code 2.

#include "support/net/TestCa.h"
#include "support/service/ByteCount.h"
#include "support/service/RestRoutes.h"
#include "support/service/ServiceSeed.h"
#include "support/service/TestService.h"

#include <Poco/NumberParser.h>

#include <csignal>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

int usage()
{
    std::cerr << "usage: fv-testservice --port N [--tls] [--data-dir DIR] [--user NAME:PASSWORD]... [--seed FILE]\n"
                 "                      [--conn-rate BPS] [--complete-once]\n"
                 "  --user       a user the login route accepts (repeatable)\n"
                 "  --seed FILE  buckets and files to start with (JSON):\n"
                 "               {\"buckets\": [{\"id\", \"token\", \"status\", \"uploadAllowed\", \"created\"}],\n"
                 "                \"files\": [{\"bucket\", \"id\", \"source\": PATH | \"size\": \"64M\", \"seed\": N,\n"
                 "                           \"digest\": plain|parts|manifest|none, \"partSize\"}]}\n"
                 "  --conn-rate  caps each direction of each connection to BPS bytes a second (\"4M\" too)\n"
                 "  --complete-once  a repeated multipart complete gets 404 instead of the first one's answer\n";
    return 2;
}

struct Arguments {
    fv_test::TestServiceOptions options;
    bool tls = false;
    unsigned port = 0;
    std::vector<std::pair<std::string, std::string>> users;
    std::string seedFile;
    bool completeOnce = false;
};

// "NAME:PASSWORD", split at the first colon.
bool addUser(const std::string& text, Arguments& arguments)
{
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    arguments.users.emplace_back(text.substr(0, colon), text.substr(colon + 1));
    return true;
}

std::optional<Arguments> parseArguments(int argc, char** argv)
{
    Arguments arguments;
    arguments.options.requireSignedStorage = false;
    arguments.options.bodyCaptureLimit = 0;
    bool portGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--tls") {
            arguments.tls = true;
        } else if (arg == "--complete-once") {
            arguments.completeOnce = true;
        } else if (arg == "--port" && hasValue) {
            portGiven = Poco::NumberParser::tryParseUnsigned(argv[++i], arguments.port) && arguments.port <= 65535;
        } else if (arg == "--data-dir" && hasValue) {
            arguments.options.dataDirectory = argv[++i];
        } else if (arg == "--user" && hasValue) {
            if (!addUser(argv[++i], arguments))
                return std::nullopt;
        } else if (arg == "--seed" && hasValue) {
            arguments.seedFile = argv[++i];
        } else if (arg == "--conn-rate" && hasValue) {
            const std::optional<uint64_t> rate = fv_test::parseByteCount(argv[++i]);
            if (!rate)
                return std::nullopt;
            arguments.options.connectionRateBytesPerSecond = *rate;
        } else {
            return std::nullopt;
        }
    }
    if (!portGiven)
        return std::nullopt;
    arguments.options.http = !arguments.tls;
    arguments.options.https = arguments.tls;
    arguments.options.httpPort = arguments.options.httpsPort = static_cast<uint16_t>(arguments.port);
    return arguments;
}

void printAddresses(const fv_test::TestService& service, const Arguments& arguments)
{
    const bool tls = arguments.tls;
    std::cout << "base URL: " << (tls ? service.secureBaseUrl() : service.baseUrl()) << "\n"
              << "REST:     " << service.url("/api/v2/bucket/", tls) << "\n"
              << "storage:  " << service.url("/storage/<key>", tls) << " (PUT, GET with Range)\n"
              << "redirect: " << service.url("/redirect?to=<url>", tls) << "\n";
    if (tls)
        std::cout << "CA file:  " << fv_test::TestCa::instance().caFile() << " (valid while this runs)\n";
    if (!arguments.options.dataDirectory.empty())
        std::cout << "objects in " << arguments.options.dataDirectory << "\n";
    std::cout << std::flush;
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<Arguments> arguments = parseArguments(argc, argv);
    if (!arguments)
        return usage();

    // Block the stop signals before any thread starts, so only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        const fv_test::ServiceSeed seed =
            arguments->seedFile.empty() ? fv_test::ServiceSeed() : fv_test::ServiceSeed::fromFile(arguments->seedFile);
        fv_test::TestService service(arguments->options);
        fv_test::RestRoutes rest(service);
        rest.setRepeatedCompleteNotFound(arguments->completeOnce);
        for (const auto& user : arguments->users)
            rest.addUser(user.first, user.second);
        seed.apply(service, rest, std::cout);
        printAddresses(service, *arguments);
        int received = 0;
        sigwait(&stopSignals, &received);
        service.stop();
    } catch (const fv_test::SeedError& error) {
        std::cerr << "fv-testservice: " << error.what() << "\n";
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "fv-testservice: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
