#include "support/fixtures/Watchdog.h"
#include "support/service/FaultPlan.h"
#include "transfers/download/DownloadGroupFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace fv_test;
using fv_transfers::CFailedGroupsRestarter;

namespace {

constexpr std::uint64_t KiB = 1024;

using DownloadGroupTest = DownloadGroupFixture;

} // namespace

TEST_F(DownloadGroupTest, OnlyAnExistingLocalFolderIsADestination)
{
    struct Case {
        std::string name;
        std::string destination;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"file URL of an existing folder", folderUrl(m_folder), true},
        {"bookmark URI", "bookmark:AAAAbookmarkdata", false},
        {"https URL", "https://example.invalid/folder", false},
        {"missing folder", folderUrl(m_folder + "/missing"), false},
    };
    for (const Case& c : cases) {
        const std::int64_t before = rows("DownloadGroupsDictionary");
        const std::int32_t id = createGroup(c.destination);
        EXPECT_EQ(c.accepted, id >= 0) << c.name;
        EXPECT_EQ(before + (c.accepted ? 1 : 0), rows("DownloadGroupsDictionary")) << c.name;
        if (c.accepted) {
            EXPECT_EQ(fv_transfers::utf8ToWide(m_folder), group(id)->getDownloadPath()) << c.name;
        }
    }
}

TEST_F(DownloadGroupTest, CompletesOnceWithEveryFileInPlaceAndEveryRowGone)
{
    Watchdog watchdog("group completion", std::chrono::seconds(60));
    const std::string empty = seed("F0", 0);
    const std::string small = seed("F1", 64 * KiB, 4);
    const std::string nested = seed("F2", 200 * KiB, 5);
    const std::int32_t id = createGroup(folderUrl(m_folder));
    ASSERT_GE(id, 0);
    m_engine->initFiles(group(id), {details("F0", "empty.bin", 0), details("F1", "x.bin", 64 * KiB),
                                    details("F2", "sub/dir/y.bin", 200 * KiB)});

    ASSERT_TRUE(m_events.waitForGroupState(CTransferManagerBase::GROUP_COMPLETED));
    EXPECT_EQ(empty, readFile(m_folder + "/empty.bin"));
    EXPECT_EQ(small, readFile(m_folder + "/x.bin"));
    EXPECT_EQ(nested, readFile(m_folder + "/sub/dir/y.bin"));
    EXPECT_FALSE(anyTempIn(m_folder));
    EXPECT_EQ(0, allRows());
    EXPECT_EQ(0, rows("GroupInfoParams"));
    // A queued file is reported pending, a state the subscriber's enum knows.
    EXPECT_EQ(CTransferManagerBase::FILE_PENDING, m_events.fileEvents("F0").front().state);
    for (const char* fileId : {"F0", "F1", "F2"})
        EXPECT_TRUE(m_events.fileReached(fileId, CTransferManagerBase::FILE_COMPLETED)) << fileId;
    // Anything still in flight has had its chance to report a second completion.
    m_engine->stop();
    EXPECT_EQ(1u, m_events.groupEventsInState(CTransferManagerBase::GROUP_COMPLETED));
}

TEST_F(DownloadGroupTest, ASecondFileForOneFinalPathOrAUidOfAnotherGroupIsRefused)
{
    Watchdog watchdog("refused files", std::chrono::seconds(60));
    const std::string first = seed("F1", 64 * KiB, 4);
    seed("F2", 32 * KiB, 5);
    seed("F3", 16 * KiB, 6);
    // Held back so that the first group still holds F3 when the second asks for it.
    m_service.faults().add(FaultRule{"GET", detailsPath("F3"), 1, 1, Fault::delay(1500)});
    const std::int32_t holder = createGroup(folderUrl(m_folder));
    m_engine->initFiles(group(holder), {details("F3", "held.bin", 16 * KiB)});
    ASSERT_TRUE(waitUntil([&] { return m_manager->findGroupOfFile("F3") == holder; }));

    const std::int32_t id = createGroup(folderUrl(m_folder));
    // "a/x.bin" and "a//x.bin" name one file once made safe.
    m_engine->initFiles(group(id), {details("F1", "a/x.bin", 64 * KiB), details("F2", "a//x.bin", 32 * KiB),
                                    details("F3", "other.bin", 16 * KiB)});

    ASSERT_TRUE(waitUntil([&] { return m_events.fileReached("F2", CTransferManagerBase::FILE_ERRORED); }, 20000));
    EXPECT_EQ(1, m_events.fileEvents("F2").back().errorCode); // a local file error
    ASSERT_TRUE(waitUntil([&] { return m_events.fileReached("F1", CTransferManagerBase::FILE_COMPLETED); }, 20000));
    EXPECT_EQ(first, readFile(m_folder + "/a/x.bin"));
    EXPECT_TRUE(m_events.fileReached("F3", CTransferManagerBase::FILE_ERRORED));
    // The holder keeps the uid and its download.
    EXPECT_EQ(holder, m_manager->findGroupOfFile("F3"));
    ASSERT_TRUE(waitUntil([&] { return m_events.fileReached("F3", CTransferManagerBase::FILE_COMPLETED); }, 20000));
    EXPECT_EQ(16 * KiB, std::filesystem::file_size(m_folder + "/held.bin"));
    EXPECT_FALSE(std::filesystem::exists(m_folder + "/other.bin"));
}

TEST_F(DownloadGroupTest, CancelMidTransferRemovesTempsAndRowsAndNeverCompletes)
{
    Watchdog watchdog("cancel", std::chrono::seconds(60));
    seed("F1", 256 * KiB);
    seed("F2", 8 * KiB);
    m_service.faults().add(FaultRule{"GET", "/storage/*", 1, 100, Fault::trickle(4 * KiB, 20)});
    const std::int32_t id = createGroup(folderUrl(m_folder));
    m_engine->initFiles(group(id), {details("F1", "big.bin", 256 * KiB), details("F2", "small.bin", 8 * KiB)});
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto events = m_events.fileEvents("F1");
            return std::any_of(events.begin(), events.end(), [](const auto& e) { return e.bytesTransferred > 0; });
        },
        20000));

    group(id)->cancel();

    ASSERT_TRUE(waitUntil([&] { return allRows() == 0 && !anyTempIn(m_folder); }));
    EXPECT_TRUE(group(id)->isCancelled());
    const auto groupEvents = m_events.groups.values();
    EXPECT_TRUE(std::any_of(groupEvents.begin(), groupEvents.end(), [](const auto& e) { return e.cancelled; }));
    m_engine->stop();
    EXPECT_FALSE(anyTempIn(m_folder));
    EXPECT_FALSE(std::filesystem::exists(m_folder + "/big.bin"));
    EXPECT_EQ(0u, m_events.groupEventsInState(CTransferManagerBase::GROUP_COMPLETED));
    for (const auto& event : groupEvents)
        EXPECT_NE(CTransferManagerBase::GROUP_COMPLETED, event.state);
}

TEST_F(DownloadGroupTest, DequeuingAPendingFileErasesItsEntryAndRows)
{
    Watchdog watchdog("dequeue", std::chrono::seconds(60));
    const std::string kept = seed("F1", 32 * KiB);
    seed("F2", 32 * KiB);
    // F2's preparation is still waiting for its details when it is dequeued.
    m_service.faults().add(FaultRule{"GET", detailsPath("F2"), 1, 1, Fault::delay(1500)});
    const std::int32_t id = createGroup(folderUrl(m_folder));
    m_engine->initFiles(group(id), {details("F1", "kept.bin", 32 * KiB), details("F2", "gone.bin", 32 * KiB)});
    ASSERT_TRUE(waitUntil([&] { return m_service.log().forPath(detailsPath("F2")).size() == 1; }));

    group(id)->removeFiles({"F2"});
    EXPECT_EQ(-1, m_manager->findGroupOfFile("F2"));

    ASSERT_TRUE(m_events.waitForGroupState(CTransferManagerBase::GROUP_COMPLETED));
    EXPECT_EQ(kept, readFile(m_folder + "/kept.bin"));
    // The preparation that was under way gives up without storing anything.
    ASSERT_TRUE(waitUntil([&] { return m_service.log().forPath(detailsPath("F2")).size() == 1; }));
    CDownloadManager::GroupState state;
    group(id)->getGroupState(state);
    EXPECT_EQ(32 * KiB, state.bytesTotal);
    tearDownParts();
    EXPECT_EQ(0, allRows());
    EXPECT_EQ(std::vector<std::string>{"kept.bin"}, folderEntries(m_folder));
    EXPECT_FALSE(m_events.fileReached("F2", CTransferManagerBase::FILE_COMPLETED));
}

TEST_F(DownloadGroupTest, AFailedFileErrorsTheGroupWhichTheRestarterResumesToCompletion)
{
    Watchdog watchdog("restarter", std::chrono::seconds(60));
    seed("F1", 16 * KiB);
    const std::string second = seed("F2", 48 * KiB, 7);
    m_service.faults().add(FaultRule{"GET", detailsPath("F2"), 1, 1, Fault::statusCode(404)});
    const std::int32_t id = createGroup(folderUrl(m_folder));
    m_engine->initFiles(group(id), {details("F1", "one.bin", 16 * KiB), details("F2", "two.bin", 48 * KiB)});

    ASSERT_TRUE(waitUntil([&] { return m_events.fileReached("F2", CTransferManagerBase::FILE_ERRORED); }, 20000));
    const auto fileEvents = m_events.fileEvents("F2");
    const auto errored = std::find_if(fileEvents.begin(), fileEvents.end(),
                                      [](const auto& e) { return e.state == CTransferManagerBase::FILE_ERRORED; });
    EXPECT_EQ(5, errored->errorCode);
    ASSERT_TRUE(m_events.waitForGroupState(CTransferManagerBase::GROUP_ERRORED));
    const auto groupEvents = m_events.groups.values();
    const auto groupErrored = std::find_if(groupEvents.begin(), groupEvents.end(), [](const auto& e) {
        return e.state == CTransferManagerBase::GROUP_ERRORED;
    });
    EXPECT_EQ(1u, groupErrored->retryCounter);
    EXPECT_EQ(5, groupErrored->errorCode);

    // The fault was one answer only: the restarter's resume completes the group.
    ASSERT_TRUE(m_events.waitForGroupState(CTransferManagerBase::GROUP_COMPLETED));
    EXPECT_EQ(second, readFile(m_folder + "/two.bin"));
    EXPECT_EQ(2u, m_service.log().forPath(detailsPath("F2")).size());
    EXPECT_FALSE(CFailedGroupsRestarter::getInstance()->isRegistered(group(id).get()));
    EXPECT_EQ(0, allRows());
}

TEST_F(DownloadGroupTest, RestoreRebuildsTheGroupItsFilesPauseAndRetryCounter)
{
    Watchdog watchdog("restore", std::chrono::seconds(90));
    const std::string a = seed("F1", 128 * KiB, 4);
    const std::string b = seed("F2", 96 * KiB, 5);
    m_service.faults().add(FaultRule{"GET", "/storage/*", 1, 1000, Fault::trickle(4 * KiB, 20)});
    auto info = std::make_shared<CDownloadManager::GroupInfoMap>(CDownloadManager::GroupInfoMap{{"k", "v"}});
    const std::int32_t id = createGroup(folderUrl(m_folder), info);
    m_engine->initFiles(group(id), {details("F1", "a.bin", 128 * KiB), details("F2", "b/b.bin", 96 * KiB)});
    ASSERT_TRUE(waitUntil([&] { return rows("DownloadChannelsDictionary") >= 2; }, 20000));
    group(id)->pause();
    group(id)->setRetryCounterLocked(3, true);

    tearDownParts();
    m_service.faults().clear();
    ASSERT_TRUE(fv_transfers::CDbDataLoader::getInstance().loadDownloadData());
    build();
    m_manager->restoreGroups(0, false);
    fv_transfers::CDbDataLoader::getInstance().releaseDownloadData();

    const auto restored = group(id);
    ASSERT_TRUE(restored);
    EXPECT_TRUE(restored->isPaused());
    CDownloadManager::GroupState state;
    restored->getGroupState(state);
    EXPECT_EQ(3u, state.retryCounter);
    EXPECT_EQ(a.size() + b.size(), state.bytesTotal);
    ASSERT_TRUE(state.groupInfo);
    EXPECT_EQ("v", state.groupInfo->at("k"));
    EXPECT_EQ(id + 1, createGroup(folderUrl(m_folder)));

    m_engine->adopt(restored);
    restored->requestResume(false);
    ASSERT_TRUE(m_events.waitForGroupState(CTransferManagerBase::GROUP_COMPLETED, 60000));
    EXPECT_EQ(a, readFile(m_folder + "/a.bin"));
    EXPECT_EQ(b, readFile(m_folder + "/b/b.bin"));
    EXPECT_FALSE(anyTempIn(m_folder));
}
