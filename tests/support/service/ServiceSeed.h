#pragma once

#include "support/service/ServiceModel.h"

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fv_test {

class RestRoutes;
class TestService;

// A seed file that cannot be used: bad JSON, a missing or unknown member, an unreadable source.
struct SeedError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One file of a seed: where its bytes come from and how the service presents it.
struct SeedFile {
    enum class Digest { Plain, Parts, Manifest, None };

    std::string bucket;
    std::string id;
    std::string source; // empty: patterned bytes
    uint64_t size = 0;
    unsigned seed = 0;
    Digest digest = Digest::Plain;
    uint64_t partSize = 0; // with Parts and Manifest
};

// The buckets and files a standalone service starts with, from a JSON seed file:
//   {"buckets": [{"id", "token", "status" = "EDITING", "uploadAllowed" = true,
//                 "created" = 1700000000 (Unix seconds)}],
//    "files":   [{"bucket", "id", "source": local file | "size" (bytes, "64M" too) + "seed",
//                 "digest": "plain" (default) | "parts" | "manifest" | "none",
//                 "partSize" (with parts and manifest)}]}
// Seeded content is the file's bytes or patternedBytes(size, seed); a file is downloadable
// (COMPLETED) with a whole-file MD5, the "-N" digest of parts of partSize, the same with a
// manifest, or no digest at all. The whole file is checked on reading, so a bad one is refused
// before anything is served.
class ServiceSeed {
public:
    // Throws SeedError.
    static ServiceSeed fromFile(const std::string& path);
    static ServiceSeed fromText(const std::string& text, const std::string& origin);

    // Stores every file's content (streamed: with a data folder no content is held in memory)
    // and adds the records, writing "seeded <bucket>/<id> size=<n> digest=<digest>" a file, the
    // digest as the download details give it (empty for none). Throws SeedError when a source
    // cannot be read.
    void apply(TestService& service, RestRoutes& rest, std::ostream& out) const;

private:
    std::vector<ServiceBucket> m_buckets;
    std::vector<SeedFile> m_files;
};

} // namespace fv_test
