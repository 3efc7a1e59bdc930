#include "core/linux/SystemResourceStatusLinux.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

using fv_transfers::CSystemResourceStatusLinux;

TEST(SystemResourceStatus, ReadsMemAvailableInBytes)
{
    struct Case {
        const char* text;
        bool found;
        std::uint64_t bytes;
    };
    const Case cases[] = {
        {"MemTotal:       16303804 kB\nMemFree:         1053884 kB\nMemAvailable:    9876543 kB\n", true,
         9876543ull * 1024},
        {"MemAvailable: 0 kB\n", true, 0},
        {"MemTotal:       16303804 kB\nMemFree:         1053884 kB\n", false, 0},
        {"MemAvailable:   many kB\n", false, 0},
        {"MemAvailable:   99999999999999999999 kB\n", false, 0},
        {"", false, 0},
    };
    for (const Case& c : cases) {
        std::uint64_t bytes = 7;
        EXPECT_EQ(c.found, CSystemResourceStatusLinux::parseMemAvailable(c.text, bytes)) << c.text;
        if (c.found) {
            EXPECT_EQ(c.bytes, bytes) << c.text;
        }
    }
}

TEST(SystemResourceStatus, UsesMeminfoFileThenFallsBackToSysinfo)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("meminfo"), "MemFree: 1 kB\nMemAvailable: 2048 kB\n");
    std::uint64_t bytes = 0;
    ASSERT_TRUE(CSystemResourceStatusLinux(dir.file("meminfo")).getAvailableMemory(bytes));
    EXPECT_EQ(2048u * 1024, bytes);

    fv_test::writeFile(dir.file("old-kernel"), "MemTotal: 1000 kB\nMemFree: 100 kB\n");
    for (const std::string& path : {dir.file("old-kernel"), dir.file("missing")}) {
        bytes = 0;
        EXPECT_TRUE(CSystemResourceStatusLinux(path).getAvailableMemory(bytes)) << path;
        EXPECT_GT(bytes, 0u) << path;
    }
    bytes = 0;
    EXPECT_TRUE(CSystemResourceStatusLinux().getAvailableMemory(bytes));
    EXPECT_GT(bytes, 0u);
}
