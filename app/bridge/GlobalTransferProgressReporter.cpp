#include "bridge/GlobalTransferProgressReporter.h"

#include "shell/GlobalProgressBar.h"

#include <Poco/Exception.h>

#include <utility>

namespace ferrovan {

namespace {

using Manager = fv_transfers::CTransferManagerBase;

bool isFinished(const GlobalTransferProgressReporter::GroupState& state)
{
    return state.state == Manager::GROUP_COMPLETED || state.bytesTransferred == state.bytesTotal || state.cancelled;
}

bool isTransferring(const GlobalTransferProgressReporter::GroupState& state)
{
    return state.state == Manager::GROUP_TRANSFERRING;
}

std::uint8_t barStateOf(std::int32_t groupState)
{
    switch (groupState) {
    case Manager::GROUP_TRANSFERRING:
    case Manager::GROUP_COMPLETED: return kProgressStateNormal;
    case Manager::GROUP_ERRORED: return kProgressStateError;
    case Manager::GROUP_PAUSED: return kProgressStatePause;
    default: return 0;
    }
}

// The bar's value of a group's percentage; a value out of range (or not a number) must not
// reach the conversion to unsigned.
unsigned barValueOf(float percent)
{
    if (!(percent > 0))
        return 0;
    return percent >= 100 ? 100u : static_cast<unsigned>(percent);
}

} // namespace

GlobalTransferProgressReporter::GlobalTransferProgressReporter(IGlobalProgressBar* pProgressBar) : m_bar(pProgressBar)
{
    if (!m_bar)
        throw Poco::NullPointerException(
            "Null pointer passed to function: "
            "ferrovan::GlobalTransferProgressReporter::GlobalTransferProgressReporter param name: pProgressBar");
}

void GlobalTransferProgressReporter::onGroupProgress(const GroupState& state)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_groups[state.bucketId] = state;
    updateProgressBar(state);
}

void GlobalTransferProgressReporter::updateProgressBar(const GroupState& state)
{
    const std::string& bucketId = state.bucketId;
    if (isFinished(state)) {
        m_groups.erase(bucketId);
        if (m_shownBucketId == bucketId)
            m_shownBucketId.clear();
        if (m_groups.empty()) {
            m_bar->setVisible(false);
            m_barState = 0;
            return;
        }
    }
    if (m_shownBucketId.empty()) {
        m_shownBucketId = bucketId;
        m_bar->setVisible(true);
        m_barState = kProgressStateNormal;
        m_bar->setState(kProgressStateNormal);
    }
    if (m_shownBucketId != bucketId)
        return;
    if (isTransferring(state) && state.bytesTransferred != state.bytesTotal) {
        m_bar->setValue(barValueOf(state.percentTransferred));
        if (m_barState != kProgressStateNormal) {
            m_bar->setState(kProgressStateNormal);
            m_barState = kProgressStateNormal;
        }
        return;
    }
    m_shownBucketId = chooseShownGroup();
    if (m_barState == 0) {
        m_bar->setVisible(true);
        m_barState = kProgressStateNormal;
    }
    if (m_shownBucketId.empty())
        return;
    showStoredState();
    // The next state of any group makes that group the shown one.
    m_shownBucketId.clear();
}

std::string GlobalTransferProgressReporter::chooseShownGroup() const
{
    // The oldest group, a transferring one first; on equal ages the first bucket id, as the
    // map is ordered by it.
    for (const bool transferringOnly : {true, false}) {
        const std::pair<const std::string, GroupState>* oldest = nullptr;
        for (const auto& entry : m_groups) {
            if (transferringOnly && !isTransferring(entry.second))
                continue;
            const auto age = static_cast<std::uint64_t>(entry.second.creationTimeMs);
            if (!oldest || age < static_cast<std::uint64_t>(oldest->second.creationTimeMs))
                oldest = &entry;
        }
        if (oldest)
            return oldest->first;
    }
    return {};
}

void GlobalTransferProgressReporter::showStoredState()
{
    const GroupState& shown = m_groups.at(m_shownBucketId);
    const std::uint8_t barState = barStateOf(shown.state);
    if (barState != m_barState) {
        m_bar->setState(barState);
        m_barState = barState;
    }
    m_bar->setValue(barValueOf(shown.percentTransferred));
}

} // namespace ferrovan
