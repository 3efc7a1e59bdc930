#include "framework/FailedGroupsRestarter.h"

#include "core/base/ExceptionText.h"
#include "core/base/SharedInstanceSlot.h"
#include "core/log/FvTransfersLogger.h"

#include <algorithm>
#include <exception>
#include <utility>

#include <pthread.h>

namespace fv_transfers {

namespace {

CSharedInstanceSlot<CFailedGroupsRestarter>& slot()
{
    static CSharedInstanceSlot<CFailedGroupsRestarter> instance;
    return instance;
}

// For the log only: when the resume is expected, as a date.
long long wallSecondsIn(std::chrono::milliseconds delay)
{
    const auto at = std::chrono::system_clock::now() + delay;
    return std::chrono::duration_cast<std::chrono::seconds>(at.time_since_epoch()).count();
}

} // namespace

std::shared_ptr<CFailedGroupsRestarter> CFailedGroupsRestarter::getInstance()
{
    return slot().getOrCreate([] { return std::make_shared<CFailedGroupsRestarter>(); });
}

std::shared_ptr<CFailedGroupsRestarter> CFailedGroupsRestarter::findInstance()
{
    return slot().get();
}

void CFailedGroupsRestarter::destroyInstance()
{
    if (std::shared_ptr<CFailedGroupsRestarter> restarter = slot().take())
        restarter->stop();
}

CFailedGroupsRestarter::CFailedGroupsRestarter(std::chrono::milliseconds interval) : m_interval(interval)
{
    FV_LOG_INFO("Starting worker thread of group restarter");
    try {
        m_thread = std::thread([this] { run(); });
        ::pthread_setname_np(m_thread.native_handle(), "fv-restarter");
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Failed to start thread of group restarter, failed group restart functionality will not work. "
                     "Exception: "
                     << exceptionText(e));
    }
}

CFailedGroupsRestarter::~CFailedGroupsRestarter()
{
    stop();
}

void CFailedGroupsRestarter::registerGroup(const std::shared_ptr<ITransferGroup>& group)
{
    if (!group)
        return;
    std::lock_guard<std::mutex> lock(m_lock);
    m_due[group.get()] = Entry{group, Clock::now() + m_interval};
    FV_LOG_INFO(
        "Registering failed group in group restarter... Group should be resumed at: " << wallSecondsIn(m_interval));
    // The worker may be waiting for a later group, or for none.
    m_wake.notify_all();
}

void CFailedGroupsRestarter::unregisterGroup(const ITransferGroup* group)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_due.erase(group);
}

bool CFailedGroupsRestarter::isRegistered(const ITransferGroup* group) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_due.count(group) != 0;
}

void CFailedGroupsRestarter::setInterval(std::chrono::milliseconds interval)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_interval = std::max(interval, std::chrono::milliseconds(0));
}

void CFailedGroupsRestarter::stop()
{
    std::lock_guard<std::mutex> joinGuard(m_joinLock);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stop = true;
        m_wake.notify_all();
    }
    try {
        if (m_thread.joinable())
            m_thread.join();
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Failed to destroy thread of group restarter. Exception: " << exceptionText(e));
    }
}

bool CFailedGroupsRestarter::isRunning() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return !m_stop;
}

std::vector<std::shared_ptr<ITransferGroup>> CFailedGroupsRestarter::takeDueGroups(Clock::time_point now)
{
    std::vector<std::shared_ptr<ITransferGroup>> due;
    // Only groups that are due are locked, and they leave in `due`: a reference taken here and
    // dropped under our lock could be a group's last, and its destructor takes the group's lock
    // and unregisters under ours.
    for (auto it = m_due.begin(); it != m_due.end();) {
        if (it->second.group.expired()) {
            it = m_due.erase(it);
            continue;
        }
        if (it->second.due > now) {
            ++it;
            continue;
        }
        if (std::shared_ptr<ITransferGroup> group = it->second.group.lock()) {
            FV_LOG_INFO("Group restarter: obtained group to restart");
            due.push_back(std::move(group));
        }
        it = m_due.erase(it);
    }
    return due;
}

void CFailedGroupsRestarter::run()
{
    std::unique_lock<std::mutex> lock(m_lock);
    while (!m_stop) {
        std::vector<std::shared_ptr<ITransferGroup>> due = takeDueGroups(Clock::now());
        if (!due.empty()) {
            lock.unlock();
            for (const std::shared_ptr<ITransferGroup>& group : due) {
                try {
                    group->requestResume(true);
                } catch (const std::exception& e) {
                    FV_LOG_ERROR("Group restarter: resuming a group failed: " << exceptionText(e));
                }
            }
            // The last reference may end a group here, and its end unregisters under our lock.
            due.clear();
            lock.lock();
            continue;
        }
        if (m_due.empty()) {
            m_wake.wait(lock);
            continue;
        }
        // An entry that fell due while groups were being resumed makes this wait end at once.
        const auto earliest = std::min_element(m_due.begin(), m_due.end(), [](const auto& a, const auto& b) {
                                  return a.second.due < b.second.due;
                              })->second.due;
        m_wake.wait_until(lock, earliest);
    }
}

} // namespace fv_transfers
