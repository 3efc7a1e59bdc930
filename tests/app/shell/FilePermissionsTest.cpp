#include "shell/FilePermissionsRetriever.h"

#include "support/fixtures/ChildProcess.h"
#include "support/fixtures/TestEnvironment.h"

#include <Poco/NumberFormatter.h>
#include <Poco/StringTokenizer.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using ferrovan::IFilePermissionsRetriever;

constexpr int kReadable = IFilePermissionsRetriever::kReadable;
constexpr int kWritable = IFilePermissionsRetriever::kWritable;

struct Case {
    const char* name;
    bool folder;
    mode_t mode;
    int expected;
};

// Owned by the user who asks; for root every file would be writable, so as root the question
// is asked by "nobody", who then owns the files.
const Case kCases[] = {
    {"own file 0644", false, 0644, kReadable | kWritable},
    {"own file 0444", false, 0444, kReadable},
    {"own file 0200", false, 0200, kWritable},
    {"own file 0000", false, 0000, 0},
    {"own folder 0755", true, 0755, kReadable | kWritable},
    {"own folder 0555", true, 0555, kReadable},
};

uid_t uidOf(const char* user)
{
    const passwd* entry = ::getpwnam(user);
    return entry != nullptr ? entry->pw_uid : static_cast<uid_t>(-1);
}

std::vector<int> masksIn(const std::string& text)
{
    std::vector<int> masks;
    for (const std::string& line : Poco::StringTokenizer(text, "\n", Poco::StringTokenizer::TOK_IGNORE_EMPTY))
        masks.push_back(std::stoi(line));
    return masks;
}

TEST(FilePermissions, FollowOwnerAndModeForAnOrdinaryUser)
{
    const bool asRoot = ::geteuid() == 0;
    const uid_t asker = asRoot ? uidOf("nobody") : ::geteuid();
    ASSERT_NE(static_cast<uid_t>(-1), asker) << "no user nobody to ask as";

    fv_test::TempDir dir;
    ASSERT_EQ(0, ::chmod(dir.path().c_str(), 0755)); // the asker must reach the files
    std::vector<std::string> arguments;
    if (asRoot)
        arguments = {"--reuid=nobody", "--regid=nogroup", "--clear-groups", FV_REPORT_PERMISSIONS};
    const std::string answers = dir.file("answers");
    fv_test::writeFile(answers, "");
    ASSERT_EQ(0, ::chown(answers.c_str(), asker, static_cast<gid_t>(-1)));
    arguments.push_back(answers);
    int index = 0;
    for (const Case& test : kCases) {
        const std::string path = dir.file("item" + Poco::NumberFormatter::format(index++));
        if (test.folder)
            ASSERT_EQ(0, ::mkdir(path.c_str(), 0700));
        else
            fv_test::writeFile(path, "x");
        ASSERT_EQ(0, ::chown(path.c_str(), asker, static_cast<gid_t>(-1)));
        ASSERT_EQ(0, ::chmod(path.c_str(), test.mode));
        arguments.push_back(path);
    }
    arguments.push_back(dir.file("missing"));

    fv_test::ChildProcess child(asRoot ? "/usr/bin/setpriv" : FV_REPORT_PERMISSIONS, arguments);
    ASSERT_EQ(0, child.waitExit(std::chrono::seconds(60)));

    const std::vector<int> masks = masksIn(fv_test::readFile(answers));
    ASSERT_EQ(std::size(kCases) + 1, masks.size());
    for (std::size_t i = 0; i < std::size(kCases); ++i)
        EXPECT_EQ(kCases[i].expected, masks[i]) << kCases[i].name;
    EXPECT_EQ(0, masks.back()) << "a missing file";
}

TEST(FilePermissions, APathThatNamesNoFileHasNone)
{
    fv_test::TempDir dir;
    fv_test::writeFile(dir.file("present"), "x");
    const auto retriever = ferrovan::createFilePermissionsRetriever();
    EXPECT_EQ(kReadable, retriever->getPermissions(dir.file("present")) & kReadable);
    EXPECT_EQ(0, retriever->getPermissions(dir.file("missing")));
    EXPECT_EQ(0, retriever->getPermissions(""));
    // Cut at the NUL, the path would name the existing file.
    EXPECT_EQ(0, retriever->getPermissions(dir.file("present") + std::string(1, '\0') + "tail"));
}

} // namespace
