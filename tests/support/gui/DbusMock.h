#pragma once

#include "support/fixtures/ChildProcess.h"

#include <glib.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace fv_test {

struct VariantUnref {
    void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;

// A python-dbusmock service on the test's session bus (the session wrapper's private one). It
// stands once its bus name has an owner, and is gone, name released, once the object ends.
class DbusMock {
public:
    // Runs "/usr/bin/python3 -m dbusmock --session" with `arguments`, which must claim `busName`.
    DbusMock(const std::string& busName, const std::vector<std::string>& arguments);
    ~DbusMock();
    DbusMock(const DbusMock&) = delete;
    DbusMock& operator=(const DbusMock&) = delete;

    // Gives the object at `path` a method that returns nothing and records its calls.
    void addMethod(const std::string& path, const std::string& interface, const std::string& name,
                   const std::string& inSignature);
    // The calls of `method` on the object at `path`, oldest first: each call's arguments.
    std::vector<std::vector<VariantPtr>> argumentsOf(const std::string& path, const std::string& method);
    // The same, printed as GVariant text (a string array as "['a', 'b']", a string as "'a'").
    std::vector<std::vector<std::string>> callsOf(const std::string& path, const std::string& method);
    // Has the object at `path` emit the signal `interface`.`name` with `arguments` of
    // `signature`; the floating references in `arguments` are taken.
    void emitSignal(const std::string& path, const std::string& interface, const std::string& name,
                    const std::string& signature, const std::vector<GVariant*>& arguments);

    // Whether the session bus has an owner for `busName`.
    static bool hasOwner(const std::string& busName);
    // Waits until hasOwner gives `owned`; false at the deadline.
    static bool awaitOwner(const std::string& busName, bool owned, std::chrono::milliseconds deadline);

private:
    std::string m_busName;
    ChildProcess m_process;
};

} // namespace fv_test
