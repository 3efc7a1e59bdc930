#include "FvTransfersInitializer.h"

#include "TransfersRuntime.h"
#include "core/base/ExceptionText.h"
#include "core/log/FvTransfersLogger.h"

#include <exception>
#include <memory>
#include <mutex>

namespace fv_transfers {

namespace {

// The process's runtime. Start and end run under the lock, so a restart never overlaps the end
// before it. At exit without unitialize the runtime is left running: ending it then could reach
// the statics of its parts, which are already gone.
struct RuntimeSlot {
    ~RuntimeSlot() { (void)runtime.release(); }

    std::mutex mutex;
    std::unique_ptr<CTransfersRuntime> runtime;
};

RuntimeSlot& runtimeSlot()
{
    static RuntimeSlot slot;
    return slot;
}

} // namespace

bool CFvTransfersInitializer::initialize()
{
    try {
        RuntimeSlot& slot = runtimeSlot();
        std::lock_guard<std::mutex> lock(slot.mutex);
        if (!slot.runtime)
            slot.runtime = std::make_unique<CTransfersRuntime>();
        return true;
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Exception when executing method CFvTransfersInitializer::initialize: " << exceptionText(e));
        return false;
    } catch (...) {
        FV_LOG_ERROR("Exception when executing method CFvTransfersInitializer::initialize: unknown exception");
        return false;
    }
}

void CFvTransfersInitializer::unitialize()
{
    RuntimeSlot& slot = runtimeSlot();
    std::lock_guard<std::mutex> lock(slot.mutex);
    slot.runtime.reset();
}

} // namespace fv_transfers
