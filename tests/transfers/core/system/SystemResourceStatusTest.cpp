#include "core/system/linux/SystemResourceStatusLinux.h"
#include "support/fixtures/TestEnvironment.h"

#include <Poco/File.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    ASSERT_TRUE(CSystemResourceStatusLinux(dir.file("meminfo"), dir.file("no-cgroup")).getAvailableMemory(bytes));
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

TEST(SystemResourceStatus, ControlGroupLimitCapsTheAnswer)
{
    struct Limit {
        const char* folder; // below the mount
        const char* limitFile;
        const char* limit;
        const char* usageFile;
        const char* usage;
    };
    struct Case {
        const char* name;
        const char* procCgroup;
        std::vector<Limit> limits;
        std::uint64_t bytes;
    };
    const std::uint64_t meminfo = 2048u * 1024;
    const Case cases[] = {
        {"v2 parent limit",
         "0::/a/b\n",
         {{"a/b", "memory.max", "max", "memory.current", "100"},
          {"a", "memory.max", "1048576", "memory.current", "524288"}},
         524288},
        {"v2 leaf under usage", "0::/a\n", {{"a", "memory.max", "1000", "memory.current", "5000"}}, 0},
        {"v2 no limit", "0::/a\n", {{"a", "memory.max", "max", "memory.current", "5000"}}, meminfo},
        {"v1 limit",
         "4:memory:/x\n0::/\n",
         {{"memory/x", "memory.limit_in_bytes", "4096", "memory.usage_in_bytes", "1024"}},
         3072},
        {"v1 unlimited",
         "4:memory:/x\n",
         {{"memory/x", "memory.limit_in_bytes", "9223372036854771712", "memory.usage_in_bytes", "1024"}},
         meminfo},
        {"group hidden by a namespace", "0::/elsewhere\n", {}, meminfo},
        {"limit above free memory", "0::/a\n", {{"a", "memory.max", "1073741824", "memory.current", "0"}}, meminfo},
    };
    for (const Case& c : cases) {
        fv_test::TempDir dir;
        fv_test::writeFile(dir.file("meminfo"), "MemAvailable: 2048 kB\n");
        fv_test::writeFile(dir.file("cgroup"), c.procCgroup);
        const std::string mount = dir.file("mount");
        for (const Limit& l : c.limits) {
            Poco::File(mount + "/" + l.folder).createDirectories();
            fv_test::writeFile(mount + "/" + l.folder + "/" + l.limitFile, std::string(l.limit) + "\n");
            fv_test::writeFile(mount + "/" + l.folder + "/" + l.usageFile, std::string(l.usage) + "\n");
        }
        std::uint64_t bytes = 7;
        ASSERT_TRUE(
            CSystemResourceStatusLinux(dir.file("meminfo"), dir.file("cgroup"), mount).getAvailableMemory(bytes))
            << c.name;
        EXPECT_EQ(c.bytes, bytes) << c.name;
    }
}
