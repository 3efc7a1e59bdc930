#include "core/base/StringConversion.h"
#include "core/files/OsSafeFilenames.h"
#include "support/fixtures/TestEnvironment.h"

#include <Poco/File.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using fv_transfers::utf8ToWide;
using fv_transfers::wideToUtf8;
namespace osf = fv_transfers::os_safe_filenames;

namespace {

struct Case {
    std::string input;
    std::string expected;
};

std::string sanitisedName(std::string name)
{
    osf::replaceUnsafeChars(name);
    return name;
}

std::string sanitisedPath(std::string path)
{
    osf::replaceUnsafeCharsInPath(path);
    return path;
}

std::vector<std::string> segmentsOf(const std::string& path)
{
    std::vector<std::string> segments;
    size_t pos = 0;
    while (pos <= path.size()) {
        const size_t end = std::min(path.find('/', pos), path.size());
        segments.push_back(path.substr(pos, end - pos));
        pos = end + 1;
    }
    return segments;
}

const std::vector<Case> kNameCases = {
    {"", ""},
    {"a^b", "a b"},
    {"a/b", "a b"},
    {"a?b", "a b"},
    {"a<b", "a b"},
    {"a>b", "a b"},
    {"a:b", "a b"},
    {"a*b", "a b"},
    {"a|b", "a b"},
    {"a\"b", "a b"},
    {"^/?<>:*|\"", "         "},
    {"back\\slash", "back\\slash"},
    {"Grüße 😀.txt", "Grüße 😀.txt"},
    {"tab\there\nnew\x7f", "tab here new "},
    {std::string("nul\0x", 5), "nul x"},
    {".", "_"},
    {"..", "__"},
    {"...", "..."},
    {".hidden", ".hidden"},
};

const std::vector<Case> kPathCases = {
    {"", ""},
    {"dir\\file.txt", "dir/file.txt"},
    {"a\\b/c", "a/b/c"},
    {"C:\\Users\\me\\file.txt", "Users/me/file.txt"},
    {"c:/x", "x"},
    {"C:relative\\x", "relative/x"},
    {"\\\\server\\share\\dir\\f.txt", "share/dir/f.txt"},
    {"//server/share/f", "share/f"},
    {"/etc/passwd", "etc/passwd"},
    {"\\top\\f", "top/f"},
    {"dir/sub/", "dir/sub/"},
    {"dir\\sub\\", "dir/sub/"},
    {"x/na:me*/f?", "x/na me /f "},
    {"a\x01 b/c\nd", "a  b/c d"},
    {"dir/… 😀.txt", "dir/… 😀.txt"},
    {".../x", ".../x"},
    {"a//b", "a/b"},
    {"./a/./b", "a/b"},
    {"a/b/../c", "a/c"},
    {"..\\..\\x", "x"},
    {"../../../etc/passwd", "etc/passwd"},
    {"a/../../b", "b"},
    {"C:..\\..\\Windows\\x", "Windows/x"},
    {"\\\\..\\..\\x", "x"},
    {"../", ""},
    {"..", ""},
    {"/", ""},
};

std::string repeated(const std::string& text, int times)
{
    std::string result;
    for (int i = 0; i < times; ++i)
        result += text;
    return result;
}

const std::string kCjk = "\xe4\xb8\xad";       // three bytes in UTF-8
const std::string kEmoji = "\xf0\x9f\x98\x80"; // four bytes

const std::vector<Case> kLongNameCases = {
    {std::string(255, 'a'), std::string(255, 'a')},
    {std::string(300, 'a'), std::string(255, 'a')},
    {repeated(kCjk, 100) + ".txt", repeated(kCjk, 83) + ".txt"},
    {repeated(kCjk, 100), repeated(kCjk, 85)},
    {std::string(253, 'a') + kEmoji + kEmoji, std::string(253, 'a')},
    {std::string(249, 'a') + kEmoji + ".txt", std::string(249, 'a') + ".txt"},
    {std::string(248, 'a') + kEmoji + ".txt" + "x", std::string(248, 'a') + ".txtx"},
    {"name." + std::string(300, 'e'), "name." + std::string(250, 'e')},
    {"." + std::string(300, 'h'), "." + std::string(254, 'h')},
    {std::string(300, '.'), std::string(254, '.') + "."},
    {std::string(300, ':') + ".txt", std::string(251, ' ') + ".txt"},
};

bool creatable(const std::string& folder, const std::string& name)
{
    const int fd = ::open((folder + "/" + name).c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace

TEST(OsSafeFilenames, LongNamesAreCutAtACharacterBoundaryKeepingTheExtension)
{
    fv_test::TempDir dir;
    for (const Case& c : kLongNameCases) {
        const std::string name = sanitisedName(c.input);
        EXPECT_EQ(c.expected, name) << c.input.size() << " bytes: " << c.input.substr(0, 8);
        EXPECT_EQ(c.input.size() <= 255 ? c.input.size() : name.size(), name.size());
        EXPECT_EQ(name, wideToUtf8(utf8ToWide(name))) << "not whole UTF-8 characters";
        EXPECT_TRUE(creatable(dir.path(), name)) << name;

        std::wstring wide = utf8ToWide(c.input);
        osf::replaceUnsafeChars(wide);
        EXPECT_EQ(c.expected, wideToUtf8(wide)) << c.input.size() << " bytes: " << c.input.substr(0, 8);
    }
}

TEST(OsSafeFilenames, EverySegmentOfAPathIsCutAndStaysCreatable)
{
    fv_test::TempDir dir;
    const std::string folder = repeated(kCjk, 100);
    const std::string path = sanitisedPath(folder + "/" + std::string(300, 'f') + ".bin");
    EXPECT_EQ(repeated(kCjk, 85) + "/" + std::string(251, 'f') + ".bin", path);
    EXPECT_EQ(repeated(kCjk, 85) + "/", sanitisedPath(folder + "/"));
    std::wstring wide = utf8ToWide(folder + "\\x");
    osf::replaceUnsafeCharsInPath(wide);
    EXPECT_EQ(repeated(kCjk, 85) + "/x", wideToUtf8(wide));

    ASSERT_NO_THROW(Poco::File(dir.file(repeated(kCjk, 85))).createDirectories());
    EXPECT_TRUE(creatable(dir.path(), path));
}

TEST(OsSafeFilenames, ReservedSuffixFitsWithinTheLimit)
{
    fv_test::TempDir dir;
    const std::string suffix = ".fvtmp-123456";
    std::string name = std::string(300, 'a') + ".mkv";
    osf::replaceUnsafeChars(name, suffix.size());
    EXPECT_EQ(std::string(255 - suffix.size() - 4, 'a') + ".mkv", name);
    EXPECT_TRUE(creatable(dir.path(), name + suffix));

    // Folders are not cut for it, only the file.
    std::string path = std::string(300, 'd') + "/" + repeated(kCjk, 100);
    osf::replaceUnsafeCharsInPath(path, suffix.size());
    EXPECT_EQ(std::string(255, 'd') + "/" + repeated(kCjk, (255 - suffix.size()) / 3), path);
    std::string folderPath = std::string(300, 'd') + "/";
    osf::replaceUnsafeCharsInPath(folderPath, suffix.size());
    EXPECT_EQ(std::string(255, 'd') + "/", folderPath);

    std::string tiny = kEmoji + kEmoji;
    osf::replaceUnsafeChars(tiny, 1000);
    EXPECT_EQ(kEmoji, tiny) << "one character stays whatever is reserved";
}

TEST(OsSafeFilenames, ReplacesEachUnsafeCharacterWithASpace)
{
    for (const Case& c : kNameCases)
        EXPECT_EQ(c.expected, sanitisedName(c.input)) << testing::PrintToString(c.input);
}

TEST(OsSafeFilenames, WideNamesAreSanitisedAlike)
{
    for (const Case& c : kNameCases) {
        if (c.input.find('\0') != std::string::npos)
            continue; // the conversion stops at the zero
        std::wstring wide = utf8ToWide(c.input);
        osf::replaceUnsafeChars(wide);
        EXPECT_EQ(c.expected, wideToUtf8(wide)) << c.input;
    }
}

TEST(OsSafeFilenames, WideNamesLoseValuesNoFileNameCanHold)
{
    std::wstring name{L'a', 0xD800, L'b', 0x110000, 0x1F600};
    osf::replaceUnsafeChars(name);
    EXPECT_EQ((std::wstring{L'a', L' ', L'b', L' ', 0x1F600}), name);
}

TEST(OsSafeFilenames, PathsBecomeRelativeWithNativeSeparators)
{
    for (const Case& c : kPathCases)
        EXPECT_EQ(c.expected, sanitisedPath(c.input)) << testing::PrintToString(c.input);
}

TEST(OsSafeFilenames, WidePathsAreSanitisedAlike)
{
    for (const Case& c : kPathCases) {
        std::wstring wide = utf8ToWide(c.input);
        osf::replaceUnsafeCharsInPath(wide);
        EXPECT_EQ(c.expected, wideToUtf8(wide)) << c.input;
    }
}

TEST(OsSafeFilenames, NoHostilePathKeepsAClimbingOrAbsoluteForm)
{
    const std::string parts[] = {"..", ".", "", "C:", "\\\\", "a", "..\x01", " ", "x:y"};
    const std::string separators[] = {"/", "\\"};
    // Every path of up to three parts from the lists above, then with a file name after them.
    std::vector<std::string> inputs;
    std::vector<std::string> level = {""};
    for (int depth = 0; depth < 3; ++depth) {
        std::vector<std::string> longer;
        for (const std::string& prefix : level)
            for (const std::string& part : parts)
                for (const std::string& separator : separators)
                    longer.push_back(prefix + part + separator);
        inputs.insert(inputs.end(), longer.begin(), longer.end());
        level.swap(longer);
    }
    for (const std::string& input : inputs) {
        for (const std::string& candidate : {input, input + "f"}) {
            const std::string result = sanitisedPath(candidate);
            if (result.empty())
                continue;
            EXPECT_NE('/', result.front()) << candidate;
            const std::vector<std::string> segments = segmentsOf(result);
            for (size_t i = 0; i < segments.size(); ++i) {
                const std::string& s = segments[i];
                const bool trailing = i + 1 == segments.size() && s.empty();
                EXPECT_TRUE(trailing || (!s.empty() && s != "." && s != "..")) << candidate << " -> " << result;
                EXPECT_EQ(std::string::npos, s.find_first_of("\x01\\:")) << candidate << " -> " << result;
            }
        }
    }
}
