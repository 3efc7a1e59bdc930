#include "framework/TransferManagerBase.h"

#include "core/base/ServiceDefaults.h"

#include <cstddef>
#include <type_traits>

namespace fv_transfers {

// The main program compiles against these records; their widths must not drift.
using Cfg = CTransferManagerBase::Configuration;
using Grp = CTransferManagerBase::GroupState;
static_assert(std::is_same_v<decltype(Cfg::maxConcurrentTransfers), std::uint32_t>);
static_assert(std::is_same_v<decltype(Cfg::minMultipartSize), std::uint64_t>);
static_assert(std::is_same_v<decltype(Cfg::throttleBytesPerSecond), std::uint64_t>);
static_assert(std::is_same_v<decltype(Cfg::receiveTimeoutMs), std::uint32_t>);
static_assert(std::is_same_v<decltype(Grp::percentTransferred), float> && sizeof(float) == 4);
static_assert(std::is_same_v<decltype(Grp::estimatedEta), std::uint64_t>);
static_assert(std::is_same_v<decltype(Grp::creationTimeMs), std::int64_t>);
static_assert(offsetof(Grp, state) == 0 && offsetof(Grp, errorCode) == 4, "GroupState starts with state, errorCode");

CTransferManagerBase::Configuration::Configuration()
    : maxConcurrentTransfers(2), minMultipartSize(52428800), maxTransferRetries(3), verify(false), preventSleep(true),
      throttleBytesPerSecond(0), reserved(0), restEndpoint(kDefaultRestEndpointUrl),
      connectionTimeoutMs(kDefaultConnectTimeoutMs), sendTimeoutMs(kDefaultSendTimeoutMs),
      receiveTimeoutMs(kDefaultReceiveTimeoutMs)
{
}

CTransferManagerBase::GroupState::GroupState()
    : state(0), errorCode(0), id(0), bytesTransferred(0), bytesTotal(0), bytesTransferredPerSecond(0),
      percentTransferred(0), estimatedEta(0), creationTimeMs(0), empty(true), paused(false), cancelled(false),
      retryCounter(0), filesCompleted(0)
{
}

const char* CTransferManagerBase::groupStateText(std::int32_t state)
{
    switch (state) {
    case GROUP_TRANSFERRING: return "TRANSFERRING";
    case GROUP_ERRORED: return "ERRORED";
    case GROUP_COMPLETED: return "COMPLETED";
    case GROUP_PAUSED: return "PAUSED";
    default: return "UNKNWON";
    }
}

const char* CTransferManagerBase::fileStateText(std::int32_t state)
{
    switch (state) {
    case FILE_TRANSFERRING: return "TRANSFERRING";
    case FILE_COMPLETED: return "COMPLETED";
    case FILE_ERRORED: return "ERRORED";
    case FILE_PAUSED: return "PAUSED";
    default: return "UNKNWON";
    }
}

CTransferManagerBase::~CTransferManagerBase() = default;

} // namespace fv_transfers
