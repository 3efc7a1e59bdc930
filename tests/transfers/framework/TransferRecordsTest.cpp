#include "framework/TransferManagerBase.h"
#include "upload/UploadManager.h"

#include <gtest/gtest.h>

using fv_transfers::CTransferManagerBase;
using fv_transfers::CUploadManager;

TEST(TransferRecords, ConfigurationDefaults)
{
    const CUploadManager::Configuration c;
    EXPECT_EQ(2u, c.maxConcurrentTransfers);
    EXPECT_EQ(52428800u, c.minMultipartSize);
    EXPECT_EQ(3u, c.maxTransferRetries);
    EXPECT_FALSE(c.verify);
    EXPECT_TRUE(c.preventSleep);
    EXPECT_EQ(0u, c.throttleBytesPerSecond);
    EXPECT_EQ(0, c.reserved);
    EXPECT_EQ(0u, c.restEndpoint.rfind("https://", 0));
    EXPECT_EQ(30000u, c.connectionTimeoutMs);
    EXPECT_EQ(60000u, c.sendTimeoutMs);
    EXPECT_EQ(60000u, c.receiveTimeoutMs);
    EXPECT_EQ(300000u, c.serverTransferProgressInterval);
}

TEST(TransferRecords, StateTextsDifferBetweenGroupsAndFiles)
{
    struct Case {
        int code;
        const char* group;
        const char* file;
    };
    const Case cases[] = {{-1, "UNKNWON", "UNKNWON"}, {0, "UNKNWON", "TRANSFERRING"}, {1, "TRANSFERRING", "COMPLETED"},
                          {2, "ERRORED", "ERRORED"},  {3, "COMPLETED", "PAUSED"},     {4, "PAUSED", "UNKNWON"},
                          {5, "UNKNWON", "UNKNWON"}};
    for (const Case& c : cases) {
        EXPECT_STREQ(c.group, CTransferManagerBase::groupStateText(c.code)) << c.code;
        EXPECT_STREQ(c.file, CTransferManagerBase::fileStateText(c.code)) << c.code;
    }
    // Groups report their queued files as pending; the page reads the number, not the text.
    static_assert(CTransferManagerBase::FILE_PENDING == 4);
    EXPECT_STREQ("UNKNWON", CTransferManagerBase::fileStateText(CTransferManagerBase::FILE_PENDING));
}

TEST(TransferRecords, ProgressIntervalInSeconds)
{
    struct Case {
        std::uint32_t ms;
        std::uint32_t seconds;
    };
    for (const Case& c : {Case{0, 300}, Case{999, 300}, Case{1000, 1}, Case{1999, 1}, Case{300000, 300}})
        EXPECT_EQ(c.seconds, CUploadManager::progressIntervalSeconds(c.ms)) << c.ms;
}
