#pragma once

#include "bridge/ITransferProgressReporter.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace ferrovan {

class IGlobalProgressBar;

// The one progress bar of the program's dock entry, fed by the states of every unfinished
// transfer group: the bar follows one group at a time, a transferring one when there is one.
// Any thread may report; the bar is driven under the reporter's lock, so its calls never
// overlap.
class GlobalTransferProgressReporter final : public ITransferProgressReporter::IProgressCallback {
public:
    using GroupState = fv_transfers::CTransferManagerBase::GroupState;

    // `pProgressBar` is not owned and must outlive the reporter; null throws
    // Poco::NullPointerException.
    explicit GlobalTransferProgressReporter(IGlobalProgressBar* pProgressBar);
    GlobalTransferProgressReporter(const GlobalTransferProgressReporter&) = delete;
    GlobalTransferProgressReporter& operator=(const GlobalTransferProgressReporter&) = delete;

    void onGroupProgress(const GroupState& state) override;

private:
    // The rest run under m_mutex.
    void updateProgressBar(const GroupState& state);
    // The group the bar follows once the shown one stopped transferring; empty when none is left.
    std::string chooseShownGroup() const;
    void showStoredState();

    std::mutex m_mutex;
    // The latest state of each unfinished group, by bucket id.
    std::map<std::string, GroupState> m_groups;
    // The group the bar follows; empty when none is chosen.
    std::string m_shownBucketId;
    IGlobalProgressBar* const m_bar;
    // 0 while the bar is hidden, else the last state it was given.
    std::uint8_t m_barState = 0;
};

} // namespace ferrovan
