#include "support/fixtures/Watchdog.h"
#include "support/service/FaultPlan.h"
#include "transfers/upload/UploadGroupFixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace fv_test;
using fv_transfers::CFailedGroupsRestarter;

namespace {

constexpr std::uint64_t KiB = 1024;

using UploadGroupTest = UploadGroupFixture;

const std::string kUploadDetails = "/api/v2/bucket/B1/file/{fileId}/upload";

} // namespace

TEST_F(UploadGroupTest, DoneButUnmarkedStaysTransferringUntilMarkingCompletesItOnce)
{
    Watchdog watchdog("marking a finished group", std::chrono::seconds(60));
    const std::int32_t id = createGroup();
    ASSERT_GE(id, 0);
    group(id)->addFiles({localFile("F1", 64 * KiB, 3), localFile("F2", 0), localFile("F3", 40 * KiB, 4)});
    for (const char* fileId : {"F1", "F2", "F3"})
        ASSERT_TRUE(m_events.waitForFileState(fileId, CTransferManagerBase::FILE_COMPLETED)) << fileId;

    const CUploadManager::GroupState done = stateOf(id);
    EXPECT_EQ(CTransferManagerBase::GROUP_TRANSFERRING, done.state);
    EXPECT_EQ(100.0f, done.percentTransferred);
    EXPECT_FALSE(done.marked);
    EXPECT_EQ(0u, m_events.groupEventsInState(CTransferManagerBase::GROUP_COMPLETED));
    EXPECT_EQ(1, rows("GroupsDictionary"));

    group(id)->markQueue();
    ASSERT_TRUE(m_events.waitForGroupState(CTransferManagerBase::GROUP_COMPLETED));
    EXPECT_EQ(0, allRows());
    for (const char* fileId : {"F1", "F2", "F3"})
        EXPECT_EQ(m_contents[fileId], stored(fileId)) << fileId;
    // The engine lets the finished group go; a repeated look reports nothing new.
    EXPECT_TRUE(waitUntil([&] { return !group(id); }, 20000));
    m_engine->uninit();
    EXPECT_EQ(1u, m_events.groupEventsInState(CTransferManagerBase::GROUP_COMPLETED));
}

TEST_F(UploadGroupTest, MarkingAnEmptyGroupCompletesIt)
{
    Watchdog watchdog("marking an empty group");
    const std::int32_t id = createGroup();
    ASSERT_GE(id, 0);
    group(id)->markQueue();
    ASSERT_TRUE(m_events.waitForGroupState(CTransferManagerBase::GROUP_COMPLETED));
    EXPECT_EQ(0, allRows());
    EXPECT_TRUE(waitUntil([&] { return !group(id); }, 20000));
    EXPECT_EQ(1u, m_events.groupEventsInState(CTransferManagerBase::GROUP_COMPLETED));
}

TEST_F(UploadGroupTest, AFileTheGroupCannotTakeGetsOneErroredEvent)
{
    Watchdog watchdog("refused files", std::chrono::seconds(60));
    struct Case {
        std::string name;
        // Queued to a group that holds `held` already.
        std::function<std::vector<UploadFileDesc>(const UploadFileDesc& held)> files;
        std::string refused;
        std::int32_t errorCode;
        std::function<void(CUploadGroup&)> before;
    };
    using Files = std::vector<UploadFileDesc>;
    const auto url = [&](const std::string& path) { return fv_transfers::utf8ToWide("file://" + path); };
    const std::vector<Case> cases = {
        {"a uid twice in one call",
         [&](const UploadFileDesc&) {
             return Files{localFile("D1", KiB), localFile("D1", KiB)};
         },
         "D1", 0, nullptr},
        {"a uid the group holds", [&](const UploadFileDesc& held) { return Files{held}; }, "K2", 0, nullptr},
        {"a missing local file",
         [&](const UploadFileDesc&) {
             return Files{{"M1", url(m_files.file("missing.bin"))}};
         },
         "M1", 1, nullptr},
        {"not a local file URL",
         [&](const UploadFileDesc&) {
             return Files{{"H1", L"https://example.invalid/h1.bin"}};
         },
         "H1", 1, nullptr},
        {"a folder",
         [&](const UploadFileDesc&) {
             return Files{{"P1", url(m_files.path())}};
         },
         "P1", 1, nullptr},
        {"a marked group", [&](const UploadFileDesc&) { return Files{localFile("A1", KiB)}; }, "A1", 0,
         [](CUploadGroup& target) { target.markQueue(); }},
        {"a cancelled group", [&](const UploadFileDesc&) { return Files{localFile("C1", KiB)}; }, "C1", 0,
         [](CUploadGroup& target) { target.cancel(); }},
    };
    int index = 0;
    for (const Case& c : cases) {
        const std::int32_t id = createGroup();
        ASSERT_GE(id, 0) << c.name;
        const std::shared_ptr<CUploadGroup> target = group(id);
        const UploadFileDesc held = localFile("K" + std::to_string(++index), KiB);
        target->addFiles({held});
        // Done before its group may end: nothing of the file is in flight then.
        ASSERT_TRUE(m_events.waitForFileState(held.fileUid, CTransferManagerBase::FILE_COMPLETED)) << c.name;
        if (c.before)
            c.before(*target);
        const std::size_t before = m_events.fileEventsInState(c.refused, CTransferManagerBase::FILE_ERRORED);
        target->addFiles(c.files(held));
        ASSERT_EQ(before + 1, m_events.fileEventsInState(c.refused, CTransferManagerBase::FILE_ERRORED)) << c.name;
        const auto events = m_events.fileEvents(c.refused);
        const auto errored = std::find_if(events.rbegin(), events.rend(), [](const auto& event) {
            return event.state == CTransferManagerBase::FILE_ERRORED;
        });
        EXPECT_EQ(c.errorCode, errored->errorCode) << c.name;
        EXPECT_EQ(id, errored->id) << c.name;
        // One entry per uid: the group counts one file of each it took.
        CUploadManager::GroupState state;
        target->getGroupState(state);
        if (!state.cancelled) {
            EXPECT_EQ(c.refused == "D1" ? 2 * KiB : KiB, state.bytesTotal) << c.name;
        }
        // Ended with every file it took done, so that no file's preparation outlives it.
        if (!state.cancelled)
            target->markQueue();
        ASSERT_TRUE(waitUntil([&] { return !group(id); }, 20000)) << c.name;
    }
}

TEST_F(UploadGroupTest, EveryFileErroredErrorsTheGroupAndItsAutomaticResumeCompletesIt)
{
    Watchdog watchdog("an errored group", std::chrono::seconds(60));
    m_service.faults().add(FaultRule{"POST", kUploadDetails, 1, 1000, Fault::statusCode(500)});
    const std::int32_t id = createGroup();
    ASSERT_GE(id, 0);
    group(id)->addFiles({localFile("F1", 16 * KiB), localFile("F2", 8 * KiB)});
    group(id)->markQueue();
    ASSERT_TRUE(m_events.waitForGroupState(CTransferManagerBase::GROUP_ERRORED));

    const auto errored = m_events.fileEvents("F1").back();
    EXPECT_EQ(CTransferManagerBase::FILE_ERRORED, errored.state);
    const CUploadManager::GroupState state = stateOf(id);
    EXPECT_EQ(CTransferManagerBase::GROUP_ERRORED, state.state);
    EXPECT_EQ(errored.errorCode, state.errorCode);
    EXPECT_EQ(1u, state.retryCounter);
    EXPECT_TRUE(CFailedGroupsRestarter::getInstance()->isRegistered(group(id).get()));
    EXPECT_EQ(0u, m_events.groupEventsInState(CTransferManagerBase::GROUP_COMPLETED));

    // The service recovers; the automatic resume runs the errored files again to the end.
    m_service.faults().clear();
    CFailedGroupsRestarter::getInstance()->setInterval(std::chrono::milliseconds(100));
    CFailedGroupsRestarter::getInstance()->registerGroup(group(id));
    ASSERT_TRUE(m_events.waitForGroupState(CTransferManagerBase::GROUP_COMPLETED));
    for (const char* fileId : {"F1", "F2"})
        EXPECT_EQ(m_contents[fileId], stored(fileId)) << fileId;
    EXPECT_EQ(0, allRows());
    EXPECT_TRUE(waitUntil([&] { return !group(id); }, 20000));
}

TEST_F(UploadGroupTest, ADequeuedFileLeavesWhetherRunningOrQueued)
{
    Watchdog watchdog("dequeued files", std::chrono::seconds(60));
    // The first PUT never ends: its file runs while the other waits for the one transfer slot.
    m_service.faults().add(FaultRule{"PUT", "/storage/*", 1, 1, Fault::stallRequest(1024)});
    const std::int32_t id = createGroup();
    ASSERT_GE(id, 0);
    const std::shared_ptr<CUploadGroup> target = group(id);
    target->addFiles({localFile("R1", 64 * KiB, 3)});
    ASSERT_TRUE(waitUntil([&] { return requestsOf("PUT") == 1; }, 20000));
    const std::shared_ptr<fv_transfers::IUploadFile> running = target->findFile("R1");
    ASSERT_TRUE(running);
    target->addFiles({localFile("Q1", 32 * KiB, 4)});
    ASSERT_EQ(2, rows("FilesDictionary"));

    // Not started: gone at once.
    target->removeFiles({UploadFileDesc{"Q1", L""}});
    EXPECT_FALSE(target->findFile("Q1"));
    EXPECT_EQ(0, rowsOfFile("Q1"));

    target->removeFiles({UploadFileDesc{"R1", L""}});
    EXPECT_TRUE(
        waitUntil([&] { return !target->findFile("R1") && !m_engine->hasChannelsOfFile(running.get()); }, 20000));
    EXPECT_EQ(0, rowsOfFile("R1"));
    EXPECT_EQ(1, rows("GroupsDictionary"));
    const CUploadManager::GroupState state = stateOf(id);
    EXPECT_EQ(0u, state.bytesTotal);
    EXPECT_EQ(CTransferManagerBase::GROUP_TRANSFERRING, state.state);
    EXPECT_EQ(1u, requestsOf("PUT")); // the queued file never started
}
