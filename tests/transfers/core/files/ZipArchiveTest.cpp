#include "core/files/ZipArchive.h"
#include "core/log/FvTransfersLogger.h"
#include "support/fixtures/TestEnvironment.h"

#include <gtest/gtest.h>

#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/StreamCopier.h>
#include <Poco/Zip/ZipArchive.h>
#include <Poco/Zip/ZipStream.h>

#include <list>
#include <map>
#include <sstream>
#include <string>

using fv_transfers::createZipArchive;
using fv_transfers::dt_general_error;
using fv_transfers::dt_success;

namespace {

// Entry name -> unpacked content.
std::map<std::string, std::string> unzip(const std::string& archivePath)
{
    std::map<std::string, std::string> entries;
    Poco::FileInputStream in(archivePath);
    const Poco::Zip::ZipArchive archive(in);
    for (auto it = archive.headerBegin(); it != archive.headerEnd(); ++it) {
        EXPECT_EQ(Poco::Zip::ZipCommon::CM_DEFLATE, it->second.getCompressionMethod()) << it->first;
        Poco::Zip::ZipInputStream entry(in, it->second);
        std::string content;
        Poco::StreamCopier::copyToString(entry, content);
        EXPECT_TRUE(entries.emplace(it->first, content).second) << "entry twice: " << it->first;
    }
    return entries;
}

} // namespace

TEST(ZipArchive, StoresEachFileUnderItsName)
{
    fv_test::TempDir dir;
    Poco::File(dir.file("logs")).createDirectories();
    fv_test::writeFile(dir.file("logs/fv_transfers.log"), std::string(10000, 'a') + "end");
    fv_test::writeFile(dir.file("app.log"), "app");
    const std::string archive = dir.file("report.zip");
    ASSERT_EQ(dt_success, createZipArchive(archive, {dir.file("logs/fv_transfers.log"), dir.file("app.log")}));
    const std::map<std::string, std::string> expected = {{"fv_transfers.log", std::string(10000, 'a') + "end"},
                                                         {"app.log", "app"}};
    EXPECT_EQ(expected, unzip(archive));
}

TEST(ZipArchive, EmptyListGivesAnEmptyArchive)
{
    fv_test::TempDir dir;
    const std::string archive = dir.file("empty.zip");
    ASSERT_EQ(dt_success, createZipArchive(archive, {}));
    ASSERT_TRUE(Poco::File(archive).exists());
    EXPECT_TRUE(unzip(archive).empty());
}

TEST(ZipArchive, RepeatedNamesAreNumbered)
{
    fv_test::TempDir dir;
    std::list<std::string> files;
    for (const char* path : {"one/app.log", "two/app.log", "three/APP.LOG", "four/app (2).log", "five/README"}) {
        const std::string full = dir.file(path);
        Poco::File(full.substr(0, full.rfind('/'))).createDirectories();
        fv_test::writeFile(full, path);
        files.push_back(full);
    }
    files.push_back(dir.file("five/README"));
    const std::string archive = dir.file("report.zip");
    ASSERT_EQ(dt_success, createZipArchive(archive, files));
    const std::map<std::string, std::string> expected = {
        {"app.log", "one/app.log"},       {"app (2).log", "two/app.log"},
        {"APP (3).LOG", "three/APP.LOG"}, {"app (2) (2).log", "four/app (2).log"},
        {"README", "five/README"},        {"README (2)", "five/README"}};
    EXPECT_EQ(expected, unzip(archive));
}

TEST(ZipArchive, FailureLeavesNoArchive)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("present.log"), "x");
    const std::string archive = dir.file("report.zip");
    fv_test::writeFile(archive, "an older report");
    const std::string missing = dir.file("missing.log");
    EXPECT_EQ(dt_general_error, createZipArchive(archive, {dir.file("present.log"), missing}));
    EXPECT_FALSE(Poco::File(archive).exists());
    EXPECT_NE(std::string::npos, fv_test::readFile(fv_transfers::getLogFilePath())
                                     .find("Exception caught when creating zip archieve: File not found: " + missing));
}

TEST(ZipArchive, UnwritableArchivePathFailsAndTouchesNothing)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("a.log"), "x");
    EXPECT_EQ(dt_general_error, createZipArchive(dir.file("no/such/folder/report.zip"), {dir.file("a.log")}));
    Poco::File(dir.file("taken")).createDirectories();
    EXPECT_EQ(dt_general_error, createZipArchive(dir.file("taken"), {dir.file("a.log")}));
    EXPECT_TRUE(Poco::File(dir.file("taken")).isDirectory());
}
