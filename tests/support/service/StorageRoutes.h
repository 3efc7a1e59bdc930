#pragma once

#include "support/service/RouteTable.h"
#include "support/service/ServiceModel.h"
#include "support/service/UrlSigner.h"

namespace fv_test {

// The storage side of the service, on the shared object store:
// - PUT  /storage/<key>  stores the body (after "100 Continue" when asked; an empty body gets
//   its answer at once) and answers 200 with `ETag: "<lowercase md5 hex>"`; 400, with the body
//   unread, when a header the REST side prescribed for the key (ServiceState::prescribedHeaders)
//   is missing or has another value;
// - GET  /storage/<key>  answers 200 with the object, or 206 with Content-Range for
//   "Range: bytes=a-b", "bytes=a-" or "bytes=-n"; 416 when the range starts past the end;
//   404 for an unknown key. HEAD answers the same without a body.
// - GET  /redirect?to=<percent-encoded URL>  answers 302 with that Location.
struct StorageRouteOptions {
    // Storage requests need a valid "expires" and "signature" (403 when missing, expired or
    // wrong); otherwise they are checked only when they carry one.
    bool requireSignature = true;
    // PUT and POST never answer "100 Continue": the body is read whenever the client sends it
    // (after its own wait for the interim answer) and then answered, as by a server that
    // ignores `Expect`.
    bool ignoreExpect = false;
};
void addStorageRoutes(RouteTable& routes, ServiceModel& model, const UrlSigner& signer, StorageRouteOptions options);

} // namespace fv_test
