#include "support/service/StorageRoutes.h"

#include <Poco/NumberParser.h>

#include <algorithm>
#include <memory>

namespace fv_test {

namespace {

class ObjectBodySource : public BodySource {
public:
    ObjectBodySource(std::shared_ptr<const StoredObject> object, uint64_t offset)
        : m_object(std::move(object)), m_offset(offset)
    {
    }
    size_t read(char* buffer, size_t max) override
    {
        const size_t got = m_object->read(m_offset, buffer, max);
        m_offset += got;
        return got;
    }

private:
    std::shared_ptr<const StoredObject> m_object;
    uint64_t m_offset;
};

struct ByteRange {
    uint64_t first = 0;
    uint64_t last = 0;
};

enum class RangeResult { Whole, Part, Unsatisfiable };

// Single ranges only; anything else is ignored, as a server may.
RangeResult parseRange(const std::string& header, uint64_t size, ByteRange& range)
{
    const std::string prefix = "bytes=";
    if (header.compare(0, prefix.size(), prefix) != 0 || header.find(',') != std::string::npos)
        return RangeResult::Whole;
    const std::string rangeText = header.substr(prefix.size());
    const size_t dash = rangeText.find('-');
    if (dash == std::string::npos)
        return RangeResult::Whole;
    const std::string from = rangeText.substr(0, dash);
    const std::string to = rangeText.substr(dash + 1);
    Poco::UInt64 a = 0;
    Poco::UInt64 b = 0;
    if (from.empty()) {
        if (!Poco::NumberParser::tryParseUnsigned64(to, b))
            return RangeResult::Whole;
        if (b == 0 || size == 0)
            return RangeResult::Unsatisfiable;
        range.first = size - std::min<uint64_t>(b, size);
        range.last = size - 1;
        return RangeResult::Part;
    }
    if (!Poco::NumberParser::tryParseUnsigned64(from, a) ||
        (!to.empty() && (!Poco::NumberParser::tryParseUnsigned64(to, b) || b < a)))
        return RangeResult::Whole;
    if (a >= size)
        return RangeResult::Unsatisfiable;
    range.first = a;
    range.last = to.empty() ? size - 1 : std::min<uint64_t>(b, size - 1);
    return RangeResult::Part;
}

bool signatureAccepted(const ServiceRequest& request, const UrlSigner& signer, bool required, ServiceResponse& response)
{
    const std::string expires = request.queryParam("expires");
    const std::string signature = request.queryParam("signature");
    if (!required && !request.hasQueryParam("expires") && !request.hasQueryParam("signature"))
        return true;
    switch (signer.check(request.path(), expires, signature)) {
    case UrlSigner::Verdict::Valid: return true;
    case UrlSigner::Verdict::Missing: response.setBody(403, "signature missing", "text/plain"); break;
    case UrlSigner::Verdict::Expired: response.setBody(403, "signature expired", "text/plain"); break;
    case UrlSigner::Verdict::BadSignature: response.setBody(403, "signature does not match", "text/plain"); break;
    }
    return false;
}

// The headers the upload details handed out with this key's URL, each with the same value.
bool prescribedHeadersCame(const ServiceRequest& request, ServiceModel& model, ServiceResponse& response)
{
    const std::string key = request.param("*");
    const PrescribedHeaders prescribed = model.withState([&](ServiceState& state) {
        const auto found = state.prescribedHeaders.find(key);
        return found == state.prescribedHeaders.end() ? PrescribedHeaders() : found->second;
    });
    for (const auto& header : prescribed) {
        if (!request.headers().has(header.first) || request.headers().get(header.first) != header.second) {
            response.setBody(400, "header " + header.first + " missing or not " + header.second, "text/plain");
            return false;
        }
    }
    return true;
}

void putObject(ServiceRequest& request, ServiceResponse& response, ObjectStore& store)
{
    std::unique_ptr<ObjectWriter> writer = store.create(request.param("*"));
    std::string buffer(64 * 1024, '\0');
    while (size_t got = request.readBody(buffer.data(), buffer.size()))
        writer->write(buffer.data(), got);
    const std::string md5 = writer->commit();
    response.status = 200;
    response.headers.set("ETag", "\"" + md5 + "\"");
}

void getObject(const ServiceRequest& request, ServiceResponse& response, const ObjectStore& store)
{
    std::shared_ptr<const StoredObject> object = store.find(request.param("*"));
    if (!object) {
        response.setBody(404, "no such object", "text/plain");
        return;
    }
    const uint64_t size = object->size();
    ByteRange range{0, size == 0 ? 0 : size - 1};
    const std::string rangeHeader = request.headers().get("Range");
    const RangeResult result = rangeHeader.empty() ? RangeResult::Whole : parseRange(rangeHeader, size, range);
    if (result == RangeResult::Unsatisfiable) {
        response.setBody(416, "range not satisfiable", "text/plain");
        response.headers.set("Content-Range", "bytes */" + std::to_string(size));
        return;
    }
    response.status = result == RangeResult::Part ? 206 : 200;
    response.headers.set("Content-Type", "application/octet-stream");
    response.headers.set("Accept-Ranges", "bytes");
    if (!object->md5().empty())
        response.headers.set("ETag", "\"" + object->md5() + "\"");
    if (result == RangeResult::Part) {
        response.headers.set("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                                  std::to_string(range.last) + "/" + std::to_string(size));
    }
    response.streamLength = size == 0 ? 0 : range.last - range.first + 1;
    response.stream = std::make_unique<ObjectBodySource>(std::move(object), range.first);
}

} // namespace

void addStorageRoutes(RouteTable& routes, ServiceModel& model, const UrlSigner& signer, StorageRouteOptions options)
{
    ObjectStore& store = model.objects();
    const bool requireSignature = options.requireSignature;
    const RouteHandler put = [&model, &store, &signer, options](ServiceRequest& request, ServiceResponse& response) {
        if (options.ignoreExpect)
            request.ignoreExpectContinue();
        if (signatureAccepted(request, signer, options.requireSignature, response) &&
            prescribedHeadersCame(request, model, response))
            putObject(request, response, store);
    };
    routes.add("PUT", "/storage/*", put);
    // Whole-file uploads of the simple uploader come as POST.
    routes.add("POST", "/storage/*", put);
    const RouteHandler get = [&store, &signer, requireSignature](ServiceRequest& request, ServiceResponse& response) {
        if (signatureAccepted(request, signer, requireSignature, response))
            getObject(request, response, store);
    };
    routes.add("GET", "/storage/*", get);
    routes.add("HEAD", "/storage/*", get);
    routes.add("GET", "/redirect", [](ServiceRequest& request, ServiceResponse& response) {
        const std::string target = request.queryParam("to");
        if (target.empty()) {
            response.setBody(400, "missing 'to'", "text/plain");
            return;
        }
        response.setBody(302, "", "text/plain");
        response.headers.set("Location", target);
    });
}

} // namespace fv_test
